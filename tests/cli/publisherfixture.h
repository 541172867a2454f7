#pragma once

#include "testftpserver.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace quendle::testing {

// Runs the quendle-publish program against servers the test starts, with a configuration file
// and a page file of the test's own.
class PublisherFixture : public ::testing::Test
{
protected:
    struct Run
    {
        int exitCode = -1;
        QString out;
        QString err;
    };

    QString configPath() const { return dir.filePath("publish.conf"); }
    QString pagePath() const { return dir.filePath("state/quendle.htm"); }

    // A [page] section for the page file above, the address section given, and `targets`.
    void writeConfig(const QByteArray& address, const QByteArray& targets,
                     const QByteArray& email = "me@example.org");

    // A [target NAME] section for a test server, with its login and "/www" as the directory.
    static QByteArray targetFor(const QByteArray& name, const QString& host,
                                const QString& password = TestFtpServer::kPassword);

    Run run(const QStringList& arguments, const QStringList& launcher = {});

    // Starts `watch` in the background, its stderr going to watchLog(), its state in
    // state/quendle/ of the test's folder.
    void
    startWatch(const QStringList& launcher = {},
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    QString watchLog() const;
    void sendToWatch(int signal);
    // Sends SIGTERM and waits for the exit status.
    int stopWatch();

    // Polls `condition` until it holds or `milliseconds` pass.
    static bool waitFor(const std::function<bool()>& condition, int milliseconds);

    // `secret` on one line in the test's folder, readable by its owner only: a key_file or
    // password_file. Returns its path.
    QString writeSecretFile(const QString& name, const QString& secret) const;

    // The page on the server, for comparison with the expected bytes.
    static QByteArray remotePage(const TestFtpServer& server,
                                 const QString& path = QStringLiteral("/www/quendle.htm"));

    QTemporaryDir dir;
    QProcess watch;

private:
    QStringList withConfig(const QStringList& arguments) const;
    // Every run keeps its state (and watch its lock) in the test's folder: state/quendle/.
    QProcessEnvironment withStateHome(QProcessEnvironment environment) const;
};

} // namespace quendle::testing
