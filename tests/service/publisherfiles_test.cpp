#include "page/pagetext.h"
#include "service/pagewriter.h"
#include "service/publisherstate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace quendle;

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The files the publisher writes, the state file and the page file, in a folder of the test's.
class PublisherFilesTest : public ::testing::Test
{
protected:
    QString folder() const { return dir.filePath("state/quendle"); }
    QString statePath() const { return folder() + "/state.json"; }
    QString pagePath() const { return folder() + "/quendle.htm"; }

    PublisherSettings settings() const
    {
        PublisherSettings settings;
        settings.page.file = pagePath();
        return settings;
    }

    QTemporaryDir dir;
};

// A link someone put in place of either file leads nowhere: the link itself is replaced.
TEST_F(PublisherFilesTest, ALinkInPlaceOfTheStateOrThePageFileIsReplacedAndItsTargetKept)
{
    const QString theirs = dir.filePath("theirs");
    QFile other(theirs);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly) && other.write("their file\n") == 11);
    other.close();
    ASSERT_TRUE(QDir().mkpath(folder()));
    ASSERT_TRUE(QFile::link(theirs, statePath()));
    ASSERT_TRUE(QFile::link(theirs, pagePath()));

    ASSERT_EQ(writeStateFile(statePath(), stateOfThisProcess(QDateTime::currentDateTimeUtc())),
              std::nullopt);
    ASSERT_TRUE(writeOfflinePage(settings()));

    EXPECT_EQ(contents(theirs), "their file\n");
    for (const QString& path : {statePath(), pagePath()}) {
        EXPECT_FALSE(QFileInfo(path).isSymLink()) << path.toStdString();
        EXPECT_TRUE(QFileInfo(path).isFile()) << path.toStdString();
    }
    EXPECT_TRUE(std::holds_alternative<PublisherState>(readStateFile(statePath())));
    EXPECT_EQ(contents(pagePath()), offlinePage({}));
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList({"quendle.htm", "state.json"}));
}

// Made for this user alone; a folder another user owns (who could swap a link in at any time)
// is refused, and nothing is written into it.
TEST_F(PublisherFilesTest, FoldersAreMadeWithModeSevenHundredAndAnotherUsersIsRefused)
{
    ASSERT_EQ(writeStateFile(statePath(), stateOfThisProcess(QDateTime::currentDateTimeUtc())),
              std::nullopt);
    for (const QString& made : {dir.filePath("state"), folder()}) {
        struct stat facts
        {
        };
        ASSERT_EQ(::stat(QFile::encodeName(made).constData(), &facts), 0);
        EXPECT_EQ(facts.st_mode & 07777, 0700u) << made.toStdString();
    }

    if (::geteuid() != 0)
        GTEST_SKIP() << "giving the folder to another user takes root";
    ASSERT_EQ(::chown(QFile::encodeName(folder()).constData(), 65534, 65534), 0);
    const QByteArray before = contents(statePath());
    const QString refusal =
        QString("the folder %1 belongs to another user (uid 65534), who could replace what is "
                "written there; use a folder of this user's own (uid %2)")
            .arg(folder())
            .arg(::geteuid());
    EXPECT_EQ(writeStateFile(statePath(), stateOfThisProcess(QDateTime::currentDateTimeUtc())),
              refusal);
    const auto page = writeOfflinePage(settings());
    ASSERT_FALSE(page);
    EXPECT_EQ(page.error(), "The page file could not be written: " + refusal);
    EXPECT_EQ(contents(statePath()), before);
    EXPECT_FALSE(QFileInfo::exists(pagePath()));
}

} // namespace
