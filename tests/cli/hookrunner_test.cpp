#include "cli/hookrunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

using namespace quendle;
using namespace quendle::cli;

namespace {

using Lines = QList<std::pair<QString, bool>>; // each log line and whether it is a problem

class HookRunnerTest : public ::testing::Test
{
protected:
    QString script(const QString& name, const QByteArray& body)
    {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + body);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return file.fileName();
    }

    QByteArray read(const QString& name)
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Runs the hook and waits, in an event loop, until it is over; returns what it logged.
    Lines runToEnd(HookRunner& runner, const QString& commandLine,
                   const QProcessEnvironment& extra = {})
    {
        Lines lines;
        bool over = false;
        QEventLoop loop;
        const auto logged =
            QObject::connect(&runner, &HookRunner::logLine, [&](const QString& line, bool problem) {
                lines.append({line, problem});
            });
        const auto ended = QObject::connect(&runner, &HookRunner::finished, [&] {
            over = true;
            loop.quit();
        });
        runner.run(commandLine, extra);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        if (!over)
            loop.exec();
        QObject::disconnect(logged);
        QObject::disconnect(ended);
        EXPECT_TRUE(over);
        return lines;
    }

    QTemporaryDir dir;
};

// The words reach the program as they are: no shell expands $HOME.
TEST_F(HookRunnerTest, TheProgramGetsItsWordsItsEnvironmentAndItsOutputIsLogged)
{
    const QString record =
        script("record.sh",
               "printf '%s\\n' \"$@\" > " + dir.filePath("args").toUtf8() +
                   "\nenv | grep '^QUENDLE_' | sort > " + dir.filePath("env").toUtf8() +
                   "\ngrep '^Sig[BI]' /proc/self/status > " + dir.filePath("signals").toUtf8() +
                   "\necho said this\necho and this >&2\n");
    // As watch runs: its handled signals blocked, SIGPIPE ignored.
    sigset_t blocked, before;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, &before);
    const auto pipeBefore = std::signal(SIGPIPE, SIG_IGN);
    HookRunner runner;
    Lines lines =
        runToEnd(runner, record + " \"two words\" $HOME plain",
                 HookRunner::changeEnvironment(AddressFamily::Ipv4, "203.0.113.7", "198.51.100.4"));
    EXPECT_EQ(lines, Lines({{"hook record.sh: said this", false},
                            {"hook record.sh: and this", false},
                            {"hook record.sh exited with status 0", false}}));
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    std::signal(SIGPIPE, pipeBefore);
    EXPECT_EQ(read("args"), "two words\n$HOME\nplain\n");
    EXPECT_EQ(read("signals"), "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
    EXPECT_EQ(read("env"), "QUENDLE_ADDRESS=203.0.113.7\nQUENDLE_FAMILY=ipv4\n"
                           "QUENDLE_OLD_ADDRESS=198.51.100.4\n");

    runToEnd(runner, record, HookRunner::failureEnvironment("home", "Login refused"));
    EXPECT_EQ(read("args"), "\n"); // printf with no words
    EXPECT_EQ(read("env"), "QUENDLE_REASON=Login refused\nQUENDLE_TARGET=home\n");
    EXPECT_EQ(runner.running(), 0);
}

// The run returns at once; at the bound the program is killed with what it started.
TEST_F(HookRunnerTest, AHookThatHangsIsKilledWithItsChildren)
{
    const QString hang = script("hang.sh", "echo started\nsleep 60 &\necho $! > " +
                                               dir.filePath("child").toUtf8() + "\nwait\n");
    HookRunner runner(std::chrono::seconds(1));
    bool returned = false;
    QTimer::singleShot(0, [&] { returned = runner.running() == 1; });
    const Lines lines = runToEnd(runner, hang);
    EXPECT_TRUE(returned);
    EXPECT_EQ(lines, Lines({{"hook hang.sh: started", false},
                            {"hook hang.sh did not end within 1 s and was killed", true}}));
    const QByteArray child = read("child").trimmed();
    ASSERT_FALSE(child.isEmpty());
    // Gone, or a zombie left for init to reap, once the kill has landed; never still sleeping.
    const auto goneOrZombie = [&] {
        QFile stat("/proc/" + child + "/stat");
        return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
    };
    QElapsedTimer waited;
    waited.start();
    while (!goneOrZombie() && waited.elapsed() < 2000)
        QThread::msleep(10);
    EXPECT_TRUE(goneOrZombie()) << child.toStdString();
}

// A 5 MB line, a cut UTF-8 character, lines past the bytes in all: what is logged stays within
// the bounds, each cut says what it dropped, and the hook, never blocked, exits on its own.
TEST_F(HookRunnerTest, OutputIsLoggedWithinItsBoundsAndWhatIsDroppedIsCounted)
{
    const QString talk = script(
        "talk.sh", "head -c 5000000 /dev/zero | tr '\\0' x; echo\n"
                   "printf a; i=0; while [ $i -lt 600 ]; do printf '\\303\\251'; i=$((i+1)); done\n"
                   "echo\ny=$(head -c 2000 /dev/zero | tr '\\0' y)\n"
                   "i=0; while [ $i -lt 70 ]; do echo \"$y\"; i=$((i+1)); done\n"
                   "echo end\n");
    HookRunner runner;
    const Lines lines = runToEnd(runner, talk);
    Lines expected{
        {"hook talk.sh: " + QString(1024, 'x') + " [line cut: dropped 4998976 bytes]", false},
        {"hook talk.sh: a" + QString(511, QChar(0xe9)) + " [line cut: dropped 178 bytes]", false}};
    // 2047 bytes logged so far: 62 lines of 1024 more, then the last byte of the 64 KB.
    for (int i = 0; i < 62; ++i)
        expected.append(
            {"hook talk.sh: " + QString(1024, 'y') + " [line cut: dropped 976 bytes]", false});
    expected.append({"hook talk.sh: y [line cut: dropped 1999 bytes]", false});
    expected.append({"hook talk.sh: further output not logged (dropped 14011 bytes)", false});
    expected.append({"hook talk.sh exited with status 0", false});
    EXPECT_EQ(lines, expected);

    // Short lines: a hundred are logged.
    const Lines counted = runToEnd(runner, script("count.sh", "seq 1 150\n"));
    ASSERT_EQ(counted.size(), 102);
    EXPECT_EQ(counted[99].first, "hook count.sh: 100");
    EXPECT_EQ(counted[100].first, "hook count.sh: further output not logged (dropped 200 bytes)");
}

// What leaves the hook's process group (setsid) or its parent (a double fork) is killed at the
// bound all the same, whether the hook is still running then or has ended, and reaped.
TEST_F(HookRunnerTest, WhatAHookLeavesBehindIsKilledAtItsBound)
{
    const QByteArray pids = dir.filePath("pids").toUtf8();
    const QString stay = script("stay.sh", "setsid sleep 300 & echo $! >> " + pids + "\nwait\n");
    const QString leave =
        script("leave.sh", "setsid sleep 300 & echo $! >> " + pids +
                               "\n(setsid sleep 300 & echo $! >> " + pids + ")\n");
    HookRunner runner(std::chrono::milliseconds(1500));
    Lines lines;
    QObject::connect(&runner, &HookRunner::logLine, [&](const QString& line, bool problem) {
        lines.append({line, problem});
    });
    runToEnd(runner, stay);
    runToEnd(runner, leave);
    const QList<QByteArray> sleeping = read("pids").trimmed().split('\n');
    ASSERT_EQ(sleeping.size(), 3) << read("pids").toStdString();
    const auto anyLeft = [&] {
        return std::any_of(sleeping.begin(), sleeping.end(),
                           [](const QByteArray& pid) { return QFile::exists("/proc/" + pid); });
    };
    QElapsedTimer waited;
    waited.start();
    while (anyLeft() && waited.elapsed() < 5000) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    for (const QByteArray& pid : sleeping) {
        EXPECT_FALSE(QFile::exists("/proc/" + pid)) << pid.toStdString() << " left or not reaped";
        // Without the bound, nothing else ends it.
        QFile command("/proc/" + pid + "/cmdline");
        if (command.open(QIODevice::ReadOnly) && command.readAll() == QByteArray("sleep\0"
                                                                                 "300\0",
                                                                                 10))
            ::kill(pid.toInt(), SIGKILL);
    }
    EXPECT_EQ(lines, Lines({{"hook stay.sh did not end within 1.5 s and was killed", true},
                            {"hook leave.sh exited with status 0", false},
                            {"hook leave.sh: killed what it left running past its bound of 1.5 s "
                             "(2 processes)",
                             true}}));
    // The reaping leaves each hook's exit status to its QProcess.
    EXPECT_EQ(runToEnd(runner, script("three.sh", "exit 3\n")),
              Lines({{"hook three.sh exited with status 3", true}}));
}

TEST_F(HookRunnerTest, AFailureIsLogged)
{
    const QString fail = script("fail.sh", "echo broken >&2\nexit 3\n");
    HookRunner runner;
    EXPECT_EQ(runToEnd(runner, fail), Lines({{"hook fail.sh: broken", false},
                                             {"hook fail.sh exited with status 3", true}}));
    const Lines missing = runToEnd(runner, dir.filePath("missing.sh"));
    ASSERT_EQ(missing.size(), 1);
    EXPECT_TRUE(missing[0].first.startsWith("hook missing.sh could not be started: "))
        << missing[0].first.toStdString();
    EXPECT_TRUE(missing[0].second);
}

} // namespace
