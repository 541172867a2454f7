#include "publisherfixture.h"
#include "service/publisherstate.h"
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

} // namespace
