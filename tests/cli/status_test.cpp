#include "publisherfixture.h"
#include "service/publisherstate.h"
#include "service/statusreport.h"
#include "testwebserver.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#include <sys/stat.h>
#include <unistd.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

QDateTime at(int hour, int minute, int second)
{
    return QDateTime(QDate(2026, 12, 7), QTime(hour, minute, second), Qt::UTC);
}

class StatusTest : public PublisherFixture
{
protected:
    QString statePath() const { return dir.filePath("state/quendle/state.json"); }

    // A watch that published to two targets; the second failed.
    static PublisherState twoTargets(PublisherState state)
    {
        state.written = at(15, 0, 7);
        state.families = {{"ipv4", "203.0.113.7", "interface", at(15, 0, 5)}};
        state.targets = {
            {TargetKind::Page, "home", Standing::Current, {}, at(15, 0, 6), {}},
            {TargetKind::Page, "office", Standing::Failed, "Login refused", at(15, 0, 6),
             at(15, 0, 36)},
        };
        state.mappings = {{"upnp", 80, at(16, 0, 0), {}}};
        return state;
    }

    Run status(const QStringList& options = {})
    {
        return run(QStringList{"status", "--state", statePath()} + options);
    }
};

TEST_F(StatusTest, ARunningWatch)
{
    const PublisherState state = twoTargets(stateOfThisProcess(at(15, 0, 0)));
    ASSERT_EQ(writeStateFile(statePath(), state), std::nullopt);
    const Run shown = status();
    EXPECT_EQ(shown.exitCode, 1); // office is not current
    EXPECT_EQ(shown.err, "");
    EXPECT_EQ(shown.out,
              QString("watch is running (pid %1), started 2026-12-07 15:00:00 UTC\n"
                      "IPv4 address 203.0.113.7 from interface, since 2026-12-07 15:00:05 UTC\n"
                      "page home: current, uploaded 2026-12-07 15:00:06 UTC\n"
                      "page office: failed 2026-12-07 15:00:06 UTC: Login refused; next try "
                      "2026-12-07 15:00:36 UTC\n"
                      "port 80 forwarded by upnp, lease until 2026-12-07 16:00:00 UTC\n")
                  .arg(::getpid()));

    const Run json = status({"--json"});
    EXPECT_EQ(json.exitCode, 1);
    const QJsonObject root = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_EQ(root.value("running"), true);
    EXPECT_EQ(root.value("pid").toInteger(), ::getpid());
    EXPECT_EQ(root.value("watch_started").toString(), "2026-12-07T15:00:00Z");
    const QJsonArray targets = root.value("targets").toArray();
    ASSERT_EQ(targets.size(), 2);
    EXPECT_EQ(targets[0].toObject(), QJsonObject({{"kind", "page"},
                                                  {"name", "home"},
                                                  {"standing", "current"},
                                                  {"last_attempt", "2026-12-07T15:00:06Z"},
                                                  {"reason", ""},
                                                  {"next_try", QJsonValue()},
                                                  {"current", true}}));
    EXPECT_EQ(targets[1].toObject().value("next_try").toString(), "2026-12-07T15:00:36Z");
    EXPECT_EQ(root.value("addresses").toArray()[0].toObject().value("source"), "interface");
    EXPECT_EQ(root.value("mappings").toArray()[0].toObject().value("lease_until"),
              "2026-12-07T16:00:00Z");
}

// A watch that ended, and a process that later got the same number, are not taken for watch.
TEST_F(StatusTest, NoWatchRunning)
{
    QProcess gone;
    gone.start("/bin/sleep", {"30"});
    ASSERT_TRUE(gone.waitForStarted());
    const qint64 pid = gone.processId();
    const qint64 start = processStartTime(pid).value_or(-1);
    gone.kill();
    gone.waitForFinished();
    PublisherState reused = stateOfThisProcess(at(15, 0, 0));
    reused.pidStart += 1;
    PublisherState ended = reused;
    ended.pid = pid;
    ended.pidStart = start;
    for (PublisherState state : {ended, reused}) {
        state = twoTargets(state);
        state.targets.removeLast();
        ASSERT_EQ(writeStateFile(statePath(), state), std::nullopt);
        const Run shown = status();
        EXPECT_EQ(shown.exitCode, 0);
        EXPECT_EQ(shown.out,
                  QString("no watch is running; its last state, written 2026-12-07 15:00:07 UTC "
                          "by pid %1:\n"
                          "IPv4 address 203.0.113.7 from interface, since 2026-12-07 15:00:05 UTC\n"
                          "page home: current, uploaded 2026-12-07 15:00:06 UTC\n"
                          "port 80 forwarded by upnp, lease until 2026-12-07 16:00:00 UTC\n")
                      .arg(state.pid));
        EXPECT_EQ(QJsonDocument::fromJson(status({"--json"}).out.toUtf8())["running"], false);
    }
}

TEST_F(StatusTest, NoStateAtAll)
{
    const Run shown = status();
    EXPECT_EQ(shown.exitCode, 3);
    EXPECT_EQ(shown.out, "");
    EXPECT_TRUE(shown.err.endsWith(" no state at " + statePath() +
                                   ": watch has not run as this user, or with another state "
                                   "folder\n"))
        << shown.err.toStdString();
    QDir().mkpath(dir.filePath("state/quendle"));
    QFile broken(statePath());
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("{\"format\": 1");
    broken.close();
    const Run unreadable = status();
    EXPECT_EQ(unreadable.exitCode, 1);
    EXPECT_TRUE(unreadable.err.contains(statePath() + ": not a state file: "))
        << unreadable.err.toStdString();
}

// What came from the file reaches the terminal as text: a control character escaped, a line
// break in a field starting no line of its own.
TEST_F(StatusTest, FieldsArePrintedAsText)
{
    PublisherState state = twoTargets(stateOfThisProcess(at(15, 0, 0)));
    state.targets.removeFirst();
    state.targets[0].reason = "Login\x1b[2J refused\a\npage home: current";
    state.targets[0].name = QString("of") + QChar(0x9b) + "fice";
    state.mappings.clear();
    ASSERT_EQ(writeStateFile(statePath(), state), std::nullopt);
    EXPECT_EQ(status().out.toStdString(),
              QString("watch is running (pid %1), started 2026-12-07 15:00:00 UTC\n"
                      "IPv4 address 203.0.113.7 from interface, since 2026-12-07 15:00:05 UTC\n"
                      "page of\\x9bfice: failed 2026-12-07 15:00:06 UTC: Login\\x1b[2J "
                      "refused\\x07\\x0apage home: current; next try 2026-12-07 "
                      "15:00:36 UTC\n")
                  .arg(::getpid())
                  .toStdString());
}

// Only a regular file of at most 1 MiB whose every field has the type watch writes is a state.
TEST_F(StatusTest, WhatIsNotAStateFileIsRefusedAtOnce)
{
    const QJsonObject valid =
        QJsonDocument::fromJson(stateToJson(twoTargets(stateOfThisProcess(at(15, 0, 0))))).object();
    const auto with = [&valid](const QString& list, const QString& key, const QJsonValue& value) {
        QJsonObject root = valid;
        if (list.isEmpty()) {
            root.insert(key, value);
        } else {
            QJsonArray rows = root.value(list).toArray();
            QJsonObject row = rows[0].toObject();
            row.insert(key, value);
            rows[0] = row;
            root.insert(list, rows);
        }
        return QJsonDocument(root).toJson();
    };
    struct Row
    {
        QByteArray bytes;
        QString problem;
    } rows[] = {
        {"[]", "not a state file: its JSON is not an object"},
        {"{\"format\": 1", "not a state file: invalid termination by number at byte 12"},
        {with({}, "pid", "12"), "not a state file: pid is not a whole number from 1 to "
                                "9007199254740992"},
        {with({}, "pid", 0), "not a state file: pid is not a whole number from 1 to "
                             "9007199254740992"},
        {with({}, "written", 5), "not a state file: written is not a time"},
        {with({}, "watch_started", "yesterday"),
         "not a state file: watch_started is not a time or null"},
        {with({}, "targets", QJsonObject()), "not a state file: targets is not a list"},
        {with("targets", "reason", 7), "not a state file: targets[0].reason is not a string"},
        {with("targets", "next_try", "soon"),
         "not a state file: targets[0].next_try is not a time or null"},
        {with("targets", "kind", "ftp"), "not a state file: targets[0].kind is not page or dns"},
        {with("targets", "standing", "done"),
         "not a state file: targets[0].standing is not one of pending, working, current, "
         "unverified, failed, held, stopped"},
        {with("addresses", "since", QJsonValue()).replace("\"since\": null,", ""),
         "not a state file: addresses[0].since is missing"},
        {with("mappings", "port", 70000),
         "not a state file: mappings[0].port is not a whole number from 1 to 65535"},
        {QByteArray(1024 * 1024 + 1, ' '), "not a state file: larger than 1 MiB"},
    };
    QDir().mkpath(dir.filePath("state/quendle"));
    for (const Row& row : rows) {
        QFile file(statePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(row.bytes);
        file.close();
        const Run shown = status();
        EXPECT_EQ(shown.exitCode, 1) << row.problem.toStdString();
        EXPECT_EQ(shown.out, "");
        EXPECT_TRUE(shown.err.endsWith(" " + statePath() + ": " + row.problem + "\n"))
            << shown.err.toStdString();
    }
    // A FIFO would block a reader until someone writes; it is refused without waiting.
    QFile::remove(statePath());
    ASSERT_EQ(mkfifo(QFile::encodeName(statePath()).constData(), 0600), 0);
    const Run fifo = run({"status", "--state", statePath()}, {"/usr/bin/timeout", "10"});
    EXPECT_EQ(fifo.exitCode, 1);
    EXPECT_TRUE(fifo.err.endsWith(" " + statePath() + ": not a state file: not a regular file\n"))
        << fifo.err.toStdString();
}

TEST_F(StatusTest, NotifyTestPrintsTheServersAnswer)
{
    TestWebServer web;
    ASSERT_TRUE(web.running()) << web.startError().toStdString();
    QFile token(dir.filePath("token"));
    ASSERT_TRUE(token.open(QIODevice::WriteOnly));
    token.write("t0ken-Secret\n");
    token.close();
    token.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray target = targetFor("home", "127.0.0.1:21");
    writeConfig({}, target + "[notify]\nurl = " + web.url("/topic").toUtf8() +
                        "\ntoken_file = " + token.fileName().toUtf8() + "\n");

    web.setPostAnswer(200, "{\"id\":\"x1\"}\n");
    const Run sent = run({"notify-test"});
    EXPECT_EQ(sent.exitCode, 0);
    EXPECT_EQ(sent.out, "the server answered HTTP 200: {\"id\":\"x1\"}\n");
    web.setPostAnswer(500, "broken");
    const Run refused = run({"notify-test"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "the server answered HTTP 500: broken\n");
    for (const Run& each : {sent, refused})
        EXPECT_FALSE((each.out + each.err).contains("t0ken")) << each.err.toStdString();
    ASSERT_EQ(web.requests().size(), 2);
    EXPECT_EQ(web.requests()[0].value("body").toString(),
              "test message from quendle-publish on " + QSysInfo::machineHostName());
    EXPECT_EQ(TestWebServer::header(web.requests()[0], "Authorization"), "Bearer t0ken-Secret");

    writeConfig({}, target);
    const Run nowhere = run({"notify-test"});
    EXPECT_EQ(nowhere.exitCode, 2);
    EXPECT_TRUE(
        nowhere.err.endsWith(configPath() + ": no [notify] section: there is nowhere to send to\n"))
        << nowhere.err.toStdString();
}

// The last 100 changes of each family, newest first; the first address a watch finds continues
// the history it took over.
TEST(AddressHistory, KeepsTheLastHundredOfEachFamily)
{
    PublisherState state = stateOfThisProcess(at(9, 0, 0));
    state.written = at(12, 0, 0);
    recordAddressChange(state, {at(9, 0, 0), "ipv6", {}, "2001:db8::1", "interface"});
    for (int i = 1; i <= 101; ++i)
        recordAddressChange(state, {at(10, 0, 0).addSecs(i), "ipv4",
                                    i == 1 ? QString() : QString("192.0.2.%1").arg(i - 1),
                                    QString("192.0.2.%1").arg(i), "web"});
    ASSERT_EQ(state.history.size(), 101);
    EXPECT_EQ(state.history.first().address, "192.0.2.101");
    EXPECT_EQ(state.history[99].address, "192.0.2.2");
    EXPECT_EQ(state.history.last(),
              (PublisherState::Change{at(9, 0, 0), "ipv6", {}, "2001:db8::1", "interface"}));

    // A restarted watch finds its first address: the same adds nothing, another is a change.
    recordAddressChange(state, {at(11, 0, 0), "ipv4", {}, "192.0.2.101", "web"});
    recordAddressChange(state, {at(11, 0, 0), "ipv6", {}, "2001:db8::2", "interface"});
    EXPECT_EQ(state.history.size(), 102);
    EXPECT_EQ(state.history.first(), (PublisherState::Change{at(11, 0, 0), "ipv6", "2001:db8::1",
                                                             "2001:db8::2", "interface"}));
    EXPECT_EQ(historyText(state).section('\n', 0, 1),
              "2026-12-07 11:00:00 UTC IPv6 2001:db8::1 → 2001:db8::2 (interface)\n"
              "2026-12-07 10:01:41 UTC IPv4 192.0.2.100 → 192.0.2.101 (web)");
    EXPECT_EQ(historyText(PublisherState{}), "no address change recorded yet\n");
    PublisherState written = stateOfThisProcess(at(9, 0, 0));
    recordAddressChange(written, {at(9, 0, 0), "ipv4", {}, "192.0.2.1", "web\x1b[2J\n"});
    EXPECT_EQ(historyText(written), "2026-12-07 09:00:00 UTC IPv4 192.0.2.1 found (web\\x1b[2J"
                                    "\\x0a)\n")
        << "what the file holds reaches the terminal as text";

    // Through the state file and back; an entry that is not what watch writes spoils the history.
    const QByteArray json = stateToJson(state);
    const auto read = std::get<PublisherState>(stateFromJson(json));
    EXPECT_EQ(read.history, state.history);
    EXPECT_EQ(read.historyProblem, "");
    for (const auto& [from, to] :
         {std::pair{"\"192.0.2.101\"", "\"\""}, std::pair{"\"192.0.2.101\"", "\"2001:db8::1\""},
          std::pair{"\"2001:db8::2\"", "\"2001:DB8::2\""}}) {
        const auto spoiled =
            std::get<PublisherState>(stateFromJson(QByteArray(json).replace(from, to)));
        EXPECT_EQ(spoiled.history, QList<PublisherState::Change>{}) << to;
        EXPECT_TRUE(spoiled.historyProblem.startsWith("change "))
            << spoiled.historyProblem.toStdString();
        EXPECT_TRUE(spoiled.historyProblem.contains("\"old\" or \"new\" is not an IPv"))
            << spoiled.historyProblem.toStdString();
    }
}

} // namespace
