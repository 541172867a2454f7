#include "page/filesizelimit.h"
#include "page/pagefile.h"
#include "page/pagetext.h"
#include "page/productsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quendle;

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

class PageFileTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path = pageFilePath(dir.path());

    QStringList entries() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

TEST_F(PageFileTest, LiesInTheGivenDirectoryUnderItsName)
{
    EXPECT_EQ(path, dir.path() + "/quendle.htm");
}

TEST_F(PageFileTest, SavingTwiceGivesIdenticalBytes)
{
    const QByteArray page = onlinePage("192.0.2.7", "me@example.org", defaultBanner());
    ASSERT_TRUE(replaceFile(path, page));
    ASSERT_TRUE(replaceFile(path, page));
    EXPECT_EQ(contents(path), page);
    EXPECT_EQ(entries(), QStringList{"quendle.htm"});
}

TEST_F(PageFileTest, AShorterPageLeavesNothingOfTheLongerOne)
{
    ASSERT_TRUE(replaceFile(path, onlinePage(QString(500, 'x'), "long@example.org", "")));
    const QByteArray shorter = offlinePage("");
    ASSERT_TRUE(replaceFile(path, shorter));
    EXPECT_EQ(contents(path), shorter);
}

// The window's Save too replaces a link with the page and leaves the link's target alone; a page
// file of its own keeps its permissions.
TEST_F(PageFileTest, ALinkInPlaceOfThePageIsReplacedAndAFileKeepsItsPermissions)
{
    const QString theirs = dir.filePath("theirs");
    ASSERT_TRUE(replaceFile(theirs, "their file\n"));
    ASSERT_TRUE(QFile::link(theirs, path));
    const QByteArray page = offlinePage("");
    ASSERT_TRUE(replaceFile(path, page));
    EXPECT_EQ(contents(theirs), "their file\n");
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    EXPECT_EQ(contents(path), page);

    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    ASSERT_TRUE(replaceFile(path, "new page\r\n"));
    struct stat facts
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 0777, 0640u);
    EXPECT_EQ(entries(), QStringList({"quendle.htm", "theirs"}));
}

TEST_F(PageFileTest, AFailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    ASSERT_TRUE(replaceFile(path, "old page\r\n"));

    // A file size limit makes the write itself fail, whoever runs the test.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &limited);
    const auto written = replaceFile(path, onlinePage("192.0.2.7", "", defaultBanner()));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_FALSE(written);
    EXPECT_TRUE(written.error().contains(QDir::toNativeSeparators(path)))
        << written.error().toStdString();
    EXPECT_EQ(contents(path), "old page\r\n");
    EXPECT_EQ(entries(), QStringList{"quendle.htm"});
}

TEST_F(PageFileTest, AFileSizeLimitFailsTheWriteInsteadOfEndingTheProgram)
{
    ASSERT_TRUE(replaceFile(path, "old page\r\n"));

    // In a child process, as a program starts: without the set-up SIGXFSZ ends it mid-write.
    const auto writeUnderLimit = [this] {
        std::signal(SIGXFSZ, SIG_DFL);
        failWritesPastFileSizeLimit();
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = 64;
        setrlimit(RLIMIT_FSIZE, &limited);
        const auto written = replaceFile(path, onlinePage("192.0.2.7", "", defaultBanner()));
        // The death test reads what the child prints from a file, so lift the limit first.
        setrlimit(RLIMIT_FSIZE, &saved);
        std::fputs(written ? "written" : qPrintable(written.error()), stderr);
        std::_Exit(written ? 1 : 0);
    };
    EXPECT_EXIT(writeUnderLimit(), ::testing::ExitedWithCode(0),
                "The page file could not be written");

    EXPECT_EQ(contents(path), "old page\r\n");
    EXPECT_EQ(entries(), QStringList{"quendle.htm"});
}

TEST_F(PageFileTest, AReadOnlyDirectoryKeepsTheOldFile)
{
    ASSERT_TRUE(replaceFile(path, "old page\r\n"));
    QFile::setPermissions(dir.path(),
                          QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    // Root may write anywhere, so write as an ordinary user for the moment.
    const bool asRoot = geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(seteuid(65534), 0);
    }
    const auto written = replaceFile(path, "new page\r\n");
    if (asRoot) {
        ASSERT_EQ(seteuid(0), 0);
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ASSERT_FALSE(written);
    EXPECT_TRUE(written.error().contains(path)) << written.error().toStdString();
    EXPECT_EQ(contents(path), "old page\r\n");
    EXPECT_EQ(entries(), QStringList{"quendle.htm"});
}

TEST_F(PageFileTest, AMissingDirectoryIsReportedWithTheFileName)
{
    const QString missing = pageFilePath(dir.path() + "/gone");
    const auto written = replaceFile(missing, "page");
    ASSERT_FALSE(written);
    EXPECT_TRUE(written.error().contains(missing));
}

TEST_F(PageFileTest, ReadingAMissingFileSuggestsSaving)
{
    const auto result = readPageFile(path);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().contains(path));
    EXPECT_TRUE(result.error().contains("Save"));
}

TEST_F(PageFileTest, ReadsBackWhatWasWritten)
{
    const QByteArray page = offlinePage("x\xe9");
    ASSERT_TRUE(replaceFile(path, page));
    const auto result = readPageFile(path);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, page);
}

} // namespace
