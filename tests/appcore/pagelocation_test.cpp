#include "appcore/pagelocation.h"
#include "page/pagefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

using namespace quendle;

namespace {

const QFile::Permissions kOpenToAll = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                      QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

class PageLocationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Open to all, so that the ordinary user below may create files in both.
        QDir(dir.path()).mkdir("bin");
        for (const QString& folder : {dir.path(), bin})
            QFile::setPermissions(folder, kOpenToAll);
    }

    // Root may write anywhere, so run as an ordinary user for the moment.
    static QString asOrdinaryUser(const std::function<QString()>& work)
    {
        const bool asRoot = geteuid() == 0;
        if (asRoot && seteuid(65534) != 0)
            return "<seteuid failed>";
        const QString result = work();
        if (asRoot && seteuid(0) != 0)
            std::abort();
        return result;
    }

    void makeBinReadOnly()
    {
        QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                       QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    }

    QTemporaryDir dir;
    QString bin = dir.filePath("bin");
    QString dataHome = dir.filePath("data");
};

TEST_F(PageLocationTest, AWritableProgramFolderKeepsThePageBesideTheProgram)
{
    EXPECT_EQ(asOrdinaryUser([&] { return pageDirectory(bin, dataHome); }), bin)
        << "a folder open to all";
    EXPECT_EQ(pageDirectory(bin, dataHome), bin);
    EXPECT_FALSE(QFileInfo::exists(dataHome)) << "nothing made in the data folder";
}

TEST_F(PageLocationTest, AnUnwritableProgramFolderMovesThePageToTheDataFolder)
{
    makeBinReadOnly();
    const QString chosen = asOrdinaryUser([&] { return pageDirectory(bin, dataHome); });
    EXPECT_EQ(chosen, dataHome + "/quendle");
    EXPECT_TRUE(QFileInfo(chosen).isDir());
    EXPECT_EQ(QFileInfo(chosen).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0)
        << "the user's own folder";

    // A second run finds the folder and the page in it as they were.
    ASSERT_TRUE(replaceFile(pageFilePath(chosen), "kept\r\n"));
    EXPECT_EQ(asOrdinaryUser([&] { return pageDirectory(bin, dataHome); }), chosen);
    QFile page(pageFilePath(chosen));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    EXPECT_EQ(page.readAll(), "kept\r\n");
}

TEST_F(PageLocationTest, ADataFolderThatCannotBeMadeFailsAtTheFirstWrite)
{
    makeBinReadOnly();
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    const QString underAFile = dir.filePath("file/data");

    const QString chosen = asOrdinaryUser([&] { return pageDirectory(bin, underAFile); });
    EXPECT_EQ(chosen, underAFile + "/quendle");
    const auto written = replaceFile(pageFilePath(chosen), "page");
    ASSERT_FALSE(written);
    EXPECT_TRUE(written.error().contains(pageFilePath(chosen))) << written.error().toStdString();
}

TEST(UserDataHome, FollowsXdgDataHomeElseTheHomeFolder)
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/srv/alice/data");
    const QString fromVariable = userDataHome();
    qunsetenv("XDG_DATA_HOME");
    const QString byDefault = userDataHome();
    if (!saved.isNull())
        qputenv("XDG_DATA_HOME", saved);

    EXPECT_EQ(fromVariable, "/srv/alice/data");
    EXPECT_EQ(byDefault, QDir::homePath() + "/.local/share");
}

} // namespace
