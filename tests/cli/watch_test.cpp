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
        echo.setAnswer("11.22.33.44\n");
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
    ASSERT_TRUE(serverHas(online("11.22.33.44"))) << watchLog().toStdString();

    echo.setAnswer("81.2.69.160");
    QElapsedTimer sinceChange;
    sinceChange.start();
    ASSERT_TRUE(serverHas(online("81.2.69.160"))) << watchLog().toStdString();
    EXPECT_LT(sinceChange.elapsed(), 10000);
    EXPECT_TRUE(watchLog().contains("address changed: 11.22.33.44 → 81.2.69.160 (web)"));

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

// Retries, failed checks and a server that never answers are the engine's decisions, tested in
// virtual time in tests/service; here the wiring of a refused login to the log and the exit.
TEST_F(WatchTest, ARefusedLoginIsLoggedOnceAndNotRetriedWhileOthersGoOn)
{
    writeConfig(fastWebSource(), targetFor("wrong", server.host(), "not the password") +
                                     targetFor("home", server.host()));
    startWatch();
    ASSERT_TRUE(serverHas(online("11.22.33.44"))) << watchLog().toStdString();
    // Past two refreshes of the good target: the refused one was never asked again.
    const int uploads = server.uploadCount();
    ASSERT_TRUE(waitFor([&] { return server.uploadCount() >= uploads + 2; }, 15000));
    EXPECT_EQ(server.userCount(), 2) << "one login each";
    EXPECT_EQ(stopWatch(), 1) << "the refused target got no offline page";
    const QString log = watchLog();
    EXPECT_EQ(
        log.count("wrong: the server refused the login; no more tries until the configuration "
                  "is reloaded, so that the account is not locked: correct the user name or "
                  "the password, then reload (systemctl reload, or SIGHUP)"),
        1)
        << log.toStdString();
    EXPECT_TRUE(log.contains(QRegularExpression("wrong: Unable to connect to the specified host: "
                                                "[^\n]*530")))
        << log.toStdString();
    EXPECT_EQ(remotePage(server), offlinePage("me@example.org"));
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
    ASSERT_TRUE(serverHas(online("11.22.33.44"))) << watchLog().toStdString();

    writeConfig(fastWebSource(), targetFor("home", server.host()), "new@example.org");
    sendToWatch(SIGHUP);
    ASSERT_TRUE(serverHas(online("11.22.33.44", "new@example.org"))) << watchLog().toStdString();
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

} // namespace
