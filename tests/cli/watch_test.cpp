#include "page/pagetext.h"
#include "page/productsettings.h"
#include "publisherfixture.h"
#include "testhttpecho.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <sys/stat.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

QByteArray online(const QString& address, const QString& email = "me@example.org")
{
    return onlinePage(address, email, defaultBanner());
}

// Checks every 0.3 s; refreshes, and retries at the latest, every 3 s.
class WatchTest : public PublisherFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.running()) << server.startError().toStdString();
        ASSERT_TRUE(echo.running()) << echo.startError().toStdString();
        server.makeDirectory("/www");
        echo.setAnswer("192.0.2.7\n");
    }

    QByteArray fastWebSource() const
    {
        return "[address]\nsources = web\nweb = " + echo.url().toUtf8() +
               "\ncheck = 0.3\n[publish]\nrefresh = 0.05\n";
    }

    bool serverHas(const QByteArray& page, int milliseconds = 15000)
    {
        return waitFor([&] { return remotePage(server) == page; }, milliseconds);
    }

    TestFtpServer server;
    TestHttpEcho echo;
};

TEST_F(WatchTest, FollowsTheAddressRefreshesOnOneLoginAndLeavesTheOfflinePage)
{
    writeConfig(fastWebSource(), targetFor("home", server.host()));
    startWatch();
    ASSERT_TRUE(serverHas(online("192.0.2.7"))) << watchLog().toStdString();

    echo.setAnswer("198.51.100.9");
    QElapsedTimer sinceChange;
    sinceChange.start();
    ASSERT_TRUE(serverHas(online("198.51.100.9"))) << watchLog().toStdString();
    EXPECT_LT(sinceChange.elapsed(), 10000);
    EXPECT_TRUE(watchLog().contains("address changed: 192.0.2.7 → 198.51.100.9 (web)"));

    // The address stays; the refresh uploads the page again.
    const int uploads = server.uploadCount();
    EXPECT_TRUE(waitFor([&] { return server.uploadCount() > uploads; }, 15000))
        << watchLog().toStdString();
    EXPECT_EQ(server.loginCount(), 1) << "one login for every upload";

    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();
    EXPECT_EQ(remotePage(server), offlinePage("me@example.org"));
    EXPECT_EQ(readWholeFile(pagePath()), offlinePage("me@example.org"));
    EXPECT_EQ(server.quitCount(), 1);
    EXPECT_TRUE(watchLog().contains("home: offline page published"));
}

TEST_F(WatchTest, AFailedUploadIsRetriedAndAFailedCheckKeepsThePage)
{
    TestFtpServer failing{[] {
        TestFtpServer::Options options;
        options.failFirstUpload = true;
        return options;
    }()};
    ASSERT_TRUE(failing.running());
    failing.makeDirectory("/www");
    writeConfig(fastWebSource(), targetFor("home", failing.host()));
    startWatch();
    ASSERT_TRUE(waitFor([&] { return remotePage(failing) == online("192.0.2.7"); }, 20000))
        << watchLog().toStdString();
    const QString log = watchLog();
    EXPECT_TRUE(
        log.contains(QRegularExpression("home: Unable to transfer to remote system: .*451")))
        << log.toStdString();
    EXPECT_TRUE(log.contains("home: next try in 3 s")) << log.toStdString();

    echo.setAnswer("not an address");
    EXPECT_TRUE(waitFor(
        [&] {
            return watchLog().contains("address not found: web: the answer is "
                                       "not one IPv4 address");
        },
        10000));
    EXPECT_EQ(remotePage(failing), online("192.0.2.7"));
    EXPECT_EQ(stopWatch(), 0);
}

TEST_F(WatchTest, ATargetThatNeverAnswersDelaysNoOther)
{
    SilentServer silent;
    writeConfig(fastWebSource(),
                targetFor("silent", silent.host()) + targetFor("home", server.host()));
    startWatch();
    QElapsedTimer started;
    started.start();
    ASSERT_TRUE(serverHas(online("192.0.2.7"), 10000)) << watchLog().toStdString();
    echo.setAnswer("198.51.100.9");
    ASSERT_TRUE(serverHas(online("198.51.100.9"), 10000)) << watchLog().toStdString();
    // The silent server holds its own upload for the whole connection bound of 20 s.
    EXPECT_LT(started.elapsed(), 15000);
    watch.kill();
    watch.waitForFinished();
}

TEST_F(WatchTest, HangupReloadsAndABadFileKeepsThePreviousConfiguration)
{
    writeConfig(fastWebSource(), targetFor("home", server.host()));
    // stderr as the journal would give it: $JOURNAL_STREAM names the very file.
    QFile(dir.filePath("watch.log")).open(QIODevice::WriteOnly);
    struct stat facts
    {
    };
    ASSERT_EQ(::stat(dir.filePath("watch.log").toLocal8Bit().constData(), &facts), 0);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("JOURNAL_STREAM", QString("%1:%2").arg(facts.st_dev).arg(facts.st_ino));
    startWatch({}, environment);
    ASSERT_TRUE(serverHas(online("192.0.2.7"))) << watchLog().toStdString();

    writeConfig(fastWebSource(), targetFor("home", server.host()), "new@example.org");
    sendToWatch(SIGHUP);
    ASSERT_TRUE(serverHas(online("192.0.2.7", "new@example.org"))) << watchLog().toStdString();
    EXPECT_EQ(server.loginCount(), 1) << "an unchanged target keeps its login";

    writeConfig(fastWebSource() + "colour = blue\n", targetFor("home", server.host()));
    sendToWatch(SIGHUP);
    EXPECT_TRUE(waitFor([&] { return watchLog().contains("the previous one stays"); }, 10000));
    EXPECT_EQ(stopWatch(), 0);
    EXPECT_EQ(remotePage(server), offlinePage("new@example.org"));

    const QString log = watchLog();
    EXPECT_TRUE(log.contains("<3>" + configPath() + ":10: [publish] colour: unknown key\n"))
        << log.toStdString();
    EXPECT_TRUE(log.contains("<6>configuration reloaded from " + configPath() + "\n"));
    EXPECT_TRUE(log.startsWith("<")) << "no time stamps in the journal";
}

TEST_F(WatchTest, AConfigurationReplacedByAPipeIsRefusedOnHangupAndPublishingGoesOn)
{
    writeConfig(fastWebSource(), targetFor("home", server.host()));
    startWatch();
    ASSERT_TRUE(serverHas(online("192.0.2.7"))) << watchLog().toStdString();
    QFile::remove(configPath());
    ASSERT_EQ(mkfifo(QFile::encodeName(configPath()).constData(), 0600), 0);
    sendToWatch(SIGHUP);
    EXPECT_TRUE(waitFor(
        [&] { return watchLog().contains(configPath() + ": not a regular file (a named pipe)"); },
        10000))
        << watchLog().toStdString();
    const int uploads = server.uploadCount();
    EXPECT_TRUE(waitFor([&] { return server.uploadCount() > uploads; }, 15000))
        << "the refresh goes on: " << watchLog().toStdString();
    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();
    EXPECT_EQ(remotePage(server), offlinePage("me@example.org"));
}

} // namespace
