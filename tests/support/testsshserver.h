#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace quendle::testing {

// A private sshd offering SFTP only, on a free loopback port, with its own host key and
// configuration; it logs in one system user with a password. Its root is a temporary folder and
// the login directory is <root>/home/tester; SFTP paths are the machine's own. Needs root.
class TestSshServer
{
public:
    static inline const QString kUser = QStringLiteral("quendle-sftp-test");
    static inline const QString kPassword = QStringLiteral("s3cret pass");

    TestSshServer();
    ~TestSshServer();

    bool running() const { return m_port != 0; }
    QString startError() const { return m_error; }
    QString host() const; // "sftp://127.0.0.1:port"
    int port() const { return m_port; }
    // Where a path below the server's root ("/pub/x.htm") lies; SFTP names it the same.
    QString localPath(const QString& path) const;
    QString home() const { return localPath("/home/tester"); }
    // Creates a directory below the root that the login user may write to.
    void makeDirectory(const QString& path) const;
    // The public key as a known_hosts line for this server ("[127.0.0.1]:port type key").
    QByteArray knownHostsLine() const;
    QString hostKeyFile() const { return m_dir.path() + "/hostkey"; }
    int loginCount() const;      // password logins accepted
    int disconnectCount() const; // sessions the client closed with an SSH disconnect
    // Ends every open session, as a server that drops idle clients does.
    void dropSessions();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    QString m_error;
};

// Runs a program to its end; returns its standard output, or sets `error`.
QByteArray runProgram(const QString& program, const QStringList& arguments, QString* error,
                      const QByteArray& input = {});

} // namespace quendle::testing
