#include "page/filesizelimit.h"
#include "page/pagefile.h"
#include "page/pagetext.h"
#include "page/productsettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
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
    ASSERT_FALSE(replaceFile(path, page));
    ASSERT_FALSE(replaceFile(path, page));
    EXPECT_EQ(contents(path), page);
    EXPECT_EQ(entries(), QStringList{"quendle.htm"});
}

TEST_F(PageFileTest, AShorterPageLeavesNothingOfTheLongerOne)
{
    ASSERT_FALSE(replaceFile(path, onlinePage(QString(500, 'x'), "long@example.org", "")));
    const QByteArray shorter = offlinePage("");
    ASSERT_FALSE(replaceFile(path, shorter));
    EXPECT_EQ(contents(path), shorter);
}

TEST_F(PageFileTest, AFailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    ASSERT_FALSE(replaceFile(path, "old page\r\n"));

    // A file size limit makes the write itself fail, whoever runs the test.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &limited);
    const auto error = replaceFile(path, onlinePage("192.0.2.7", "", defaultBanner()));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_TRUE(error);
    EXPECT_TRUE(error->contains(QDir::toNativeSeparators(path))) << error->toStdString();
    EXPECT_EQ(contents(path), "old page\r\n");
    EXPECT_EQ(entries(), QStringList{"quendle.htm"});
}

TEST_F(PageFileTest, AFileSizeLimitFailsTheWriteInsteadOfEndingTheProgram)
{
    ASSERT_FALSE(replaceFile(path, "old page\r\n"));

    // In a child process, as a program starts: without the set-up SIGXFSZ ends it mid-write.
    const auto writeUnderLimit = [this] {
        std::signal(SIGXFSZ, SIG_DFL);
        failWritesPastFileSizeLimit();
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = 64;
        setrlimit(RLIMIT_FSIZE, &limited);
        const auto error = replaceFile(path, onlinePage("192.0.2.7", "", defaultBanner()));
        // The death test reads what the child prints from a file, so lift the limit first.
        setrlimit(RLIMIT_FSIZE, &saved);
        std::fputs(error ? qPrintable(*error) : "written", stderr);
        std::_Exit(error ? 0 : 1);
    };
    EXPECT_EXIT(writeUnderLimit(), ::testing::ExitedWithCode(0),
                "The page file could not be written");

    EXPECT_EQ(contents(path), "old page\r\n");
    EXPECT_EQ(entries(), QStringList{"quendle.htm"});
}

TEST_F(PageFileTest, AReadOnlyDirectoryKeepsTheOldFile)
{
    ASSERT_FALSE(replaceFile(path, "old page\r\n"));
    QFile::setPermissions(dir.path(),
                          QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    // Root may write anywhere, so write as an ordinary user for the moment.
    const bool asRoot = geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(seteuid(65534), 0);
    }
    const auto error = replaceFile(path, "new page\r\n");
    if (asRoot) {
        ASSERT_EQ(seteuid(0), 0);
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ASSERT_TRUE(error);
    EXPECT_TRUE(error->contains(path)) << error->toStdString();
    EXPECT_EQ(contents(path), "old page\r\n");
    EXPECT_EQ(entries(), QStringList{"quendle.htm"});
}

TEST_F(PageFileTest, AMissingDirectoryIsReportedWithTheFileName)
{
    const QString missing = pageFilePath(dir.path() + "/gone");
    const auto error = replaceFile(missing, "page");
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->contains(missing));
}

TEST_F(PageFileTest, ReadingAMissingFileSuggestsSaving)
{
    const auto result = readPageFile(path);
    const auto* failure = std::get_if<ReadFailure>(&result);
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->message.contains(path));
    EXPECT_TRUE(failure->message.contains("Save"));
}

TEST_F(PageFileTest, ReadsBackWhatWasWritten)
{
    const QByteArray page = offlinePage("x\xe9");
    ASSERT_FALSE(replaceFile(path, page));
    const auto result = readPageFile(path);
    ASSERT_TRUE(std::holds_alternative<QByteArray>(result));
    EXPECT_EQ(std::get<QByteArray>(result), page);
}

} // namespace
