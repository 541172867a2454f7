#include "page/pagetext.h"
#include "page/productsettings.h"
#include "publisherfixture.h"
#include "service/publisherstate.h"
#include "testhttpecho.h"
#include "testknot.h"
#include "testwebserver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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
    EXPECT_TRUE(watchLog().contains("page home: offline page published"));
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

// What a supervised watch tells beside its log: the datagrams systemd reads, the state file that
// `status` reads, the on_change hook and the notification of a change.
TEST_F(WatchTest, UnderSystemdItTellsItsStateRunsTheHookAndNotifies)
{
    const int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    const QByteArray socketPath = dir.filePath("notify").toUtf8();
    std::copy(socketPath.begin(), socketPath.end(), where.sun_path);
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&where), sizeof(where)), 0);
    // Read as systemd does, as they come: a full socket would hold up the sender.
    QList<QByteArray> datagrams;
    const auto drained = [&](bool condition) {
        char buffer[4096];
        for (ssize_t size; (size = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            datagrams << QByteArray(buffer, size);
        return condition;
    };
    TestWebServer notified;
    ASSERT_TRUE(notified.running()) << notified.startError().toStdString();
    const QString hook = dir.filePath("hook.sh");
    QFile script(hook);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho \"$QUENDLE_FAMILY $QUENDLE_OLD_ADDRESS>$QUENDLE_ADDRESS\" >> " +
                 dir.filePath("changes").toUtf8() + "\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // A page and a DNS name of one name: two targets, each counted in its kind.
    TestKnot knot;
    ASSERT_TRUE(knot.running()) << knot.startError().toStdString();
    const QString keyFile = writeSecretFile("tsig.key", knot.secret());
    writeConfig(fastWebSource() + "[hooks]\non_change = " + hook.toUtf8() +
                    "\n[notify]\nurl = " + notified.url("/quendle").toUtf8() + "\n",
                targetFor("home", server.host()) +
                    "[dns home]\nprotocol = rfc2136\nname = home.example.test\nserver = " +
                    knot.server().toUtf8() +
                    "\nkey_name = quendle\nkey_file = " + keyFile.toUtf8() + "\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NOTIFY_SOCKET", socketPath);
    environment.insert("WATCHDOG_USEC", "1000000");
    startWatch({}, environment);
    const auto serverHasNow = [&](const QByteArray& page) {
        return waitFor([&] { return drained(remotePage(server) == page); }, 15000);
    };
    ASSERT_TRUE(serverHasNow(online("11.22.33.44"))) << watchLog().toStdString();
    echo.setAnswer("11.22.33.45");
    ASSERT_TRUE(serverHasNow(online("11.22.33.45"))) << watchLog().toStdString();
    ASSERT_TRUE(waitFor([&] { return drained(!notified.requests().isEmpty()); }, 10000));
    EXPECT_EQ(notified.requests().first()["body"].toString(),
              "IPv4 address changed from 11.22.33.44 to 11.22.33.45");
    ASSERT_TRUE(
        waitFor([&] { return readWholeFile(dir.filePath("changes")).count('\n') == 2; }, 5000));
    EXPECT_EQ(readWholeFile(dir.filePath("changes")),
              "ipv4 >11.22.33.44\nipv4 11.22.33.44>11.22.33.45\n");

    const QString summary = "11.22.33.45: 1 of 1 pages, 1 of 1 names current";
    ASSERT_TRUE(
        waitFor([&] { return drained(datagrams.contains("STATUS=" + summary.toUtf8())); }, 10000))
        << watchLog().toStdString();
    EXPECT_EQ(knot.records("home.example.test", "A"), QStringList{"11.22.33.45"});
    const QStringList state{"status", "--state", dir.filePath("state/quendle/state.json")};
    const Run status = run(state);
    EXPECT_EQ(status.exitCode, 0) << status.out.toStdString() << status.err.toStdString();
    EXPECT_EQ(
        status.out.split('\n').filter(QRegularExpression("^(page|dns) home: current, ")).size(), 2)
        << status.out.toStdString();
    const QJsonArray targets =
        QJsonDocument::fromJson(run(state + QStringList{"--json"}).out.toUtf8())["targets"]
            .toArray();
    ASSERT_EQ(targets.size(), 2);
    for (const QJsonValue& target : targets)
        EXPECT_TRUE(target["current"].toBool()) << target["kind"].toString().toStdString();
    EXPECT_TRUE(watchLog().contains(summary)) << watchLog().toStdString();
    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();

    drained(true);
    ::close(socket);
    EXPECT_EQ(datagrams.count("READY=1"), 1);
    EXPECT_TRUE(datagrams.contains("WATCHDOG=1"));
    EXPECT_EQ(datagrams.last(), "STOPPING=1");
}

// Two watches on one state file would both publish: the second one exits at once.
TEST_F(WatchTest, ASecondWatchOnTheSameStateFileExitsTwoNamingTheFirstOnesPid)
{
    writeConfig(fastWebSource(), targetFor("home", server.host()));
    startWatch();
    ASSERT_TRUE(serverHas(online("11.22.33.44"))) << watchLog().toStdString();
    const Run second = run({"watch"});
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_TRUE(second.err.endsWith(QString("another watch (pid %1) runs on the state file %2; "
                                            "one watch at a time may use it\n")
                                        .arg(watch.processId())
                                        .arg(dir.filePath("state/quendle/state.json"))))
        << second.err.toStdString();
    EXPECT_EQ(server.loginCount(), 1) << "the second watch sent nothing";
    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();
    // Once the first has ended, the lock is free again.
    startWatch();
    ASSERT_TRUE(waitFor([&] { return server.loginCount() == 2; }, 15000))
        << watchLog().toStdString();
    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();
}

TEST_F(WatchTest, AConfigurationReplacedByAPipeIsRefusedOnHangupAndPublishingGoesOn)
{
    writeConfig(fastWebSource(), targetFor("home", server.host()));
    startWatch();
    ASSERT_TRUE(serverHas(online("11.22.33.44"))) << watchLog().toStdString();
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

TEST_F(WatchTest, ANameAskedForAFamilyNotPublishedSaysSoOnceAndKeepsItsRecord)
{
    TestKnot knot;
    ASSERT_TRUE(knot.running()) << knot.startError().toStdString();
    const QString keyFile = writeSecretFile("tsig.key", knot.secret());
    writeConfig(fastWebSource(), "[dns home]\nprotocol = rfc2136\nname = home.example.test\n"
                                 "server = " +
                                     knot.server().toUtf8() + "\nkey_name = quendle\nkey_file = " +
                                     keyFile.toUtf8() + "\nfamilies = ipv4, ipv6\n");
    startWatch();
    const auto holds = [&](const QString& address) {
        return waitFor(
            [&] { return knot.records("home.example.test", "A") == QStringList{address}; }, 15000);
    };
    ASSERT_TRUE(holds("11.22.33.44")) << watchLog().toStdString();
    echo.setAnswer("81.2.69.160");
    ASSERT_TRUE(holds("81.2.69.160")) << watchLog().toStdString();
    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();
    EXPECT_EQ(watchLog().count("home: IPv6 is asked for but not published ([address] "
                               "family): the AAAA record of home.example.test is left as it is\n"),
              1)
        << watchLog().toStdString();
    EXPECT_EQ(knot.records("home.example.test", "AAAA"), QStringList{"2001:db8::1"});
}

TEST_F(WatchTest, AStateFileThatCannotBeReadStartsANewHistory)
{
    const QString statePath = dir.filePath("state/quendle/state.json");
    PublisherState before = stateOfThisProcess(QDateTime::currentDateTimeUtc());
    before.history = {{QDateTime::currentDateTimeUtc(), "ipv4", {}, "11.22.33.40", "web"}};
    ASSERT_EQ(writeStateFile(statePath, before), std::nullopt);
    const QByteArray written = readWholeFile(statePath);
    ASSERT_TRUE(written.contains("\"new\": \"11.22.33.40\""));
    const struct
    {
        QByteArray bytes;
        QString problem;
    } files[] = {
        {QByteArray(written).replace("\"new\": \"11.22.33.40\"", "\"new\": 5"),
         statePath + ": change 1 of the history: \"new\" is missing or not text"},
        {"{\"format\": 1", statePath + ": not a state file: "},
    };
    writeConfig(fastWebSource(), targetFor("home", server.host()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_STATE_HOME", dir.filePath("state"));
    for (const auto& file : files) {
        QFile state(statePath);
        ASSERT_TRUE(state.open(QIODevice::WriteOnly) && state.write(file.bytes) > 0);
        state.close();
        const Run unread = run({"status", "--history", "--state", statePath});
        EXPECT_EQ(unread.exitCode, 1);
        EXPECT_TRUE(unread.err.contains(statePath)) << unread.err.toStdString();
        startWatch({}, environment);
        ASSERT_TRUE(serverHas(online("11.22.33.44"))) << watchLog().toStdString();
        EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();
        EXPECT_TRUE(watchLog().contains("the address history cannot be read: " + file.problem))
            << watchLog().toStdString();
        EXPECT_TRUE(watchLog().contains("; a new history starts\n")) << watchLog().toStdString();
        const Run history = run({"status", "--history", "--state", statePath});
        EXPECT_EQ(history.exitCode, 0) << history.err.toStdString();
        EXPECT_TRUE(history.out.endsWith(" UTC IPv4 11.22.33.44 found (web)\n"))
            << history.out.toStdString();
        EXPECT_EQ(history.out.count('\n'), 1) << history.out.toStdString();
    }
}

} // namespace
