#pragma once

#include "testfiles.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace quendle::testing {

// A real FTP server (pyftpdlib) on a free loopback port with a temporary root, started for one
// test and stopped with it. The login directory is /home/tester inside the root.
class TestFtpServer
{
public:
    static inline const QString kUser = QStringLiteral("tester");
    static inline const QString kPassword = QStringLiteral("s3cret pass");
    static inline const QString kHome = QStringLiteral("/home/tester");

    struct Options
    {
        double idleSeconds = 300; // the server drops a control connection idle this long
        QString bindAddress = QStringLiteral("127.0.0.1");
        bool stallUploads = false; // never answer a STOR
        double slowCwdSeconds = 0; // wait this long before each CWD reply
        QString tls{};             // "explicit" or "implicit" for FTP over TLS, required
        QString certificate{};     // the server's certificate and key for TLS (PEM files)
        QString key{};
        int port = 0;                 // 0: a free port
        bool failFirstUpload = false; // refuse the first STOR with 451, take the later ones
        int cutUploadsAfter = 0;      // drop every upload's data connection after these bytes
        bool refuseRename = false;    // refuse RNFR and RNTO
        bool refuseDotFiles = false;  // refuse to store a file whose name begins with a dot
        bool echoPassword = false;    // refuse every login, repeating the password in the reply
        QStringList launcher = {};    // a command that starts the server (nsenter into a namespace)
    };

    TestFtpServer();
    explicit TestFtpServer(const Options& options);
    ~TestFtpServer();

    bool running() const { return m_port != 0; }
    QString startError() const { return m_error; }
    QString host() const; // "127.0.0.1:port" or "[::1]:port"
    // Where a path on the server ("/a/b.htm") lies on disk.
    QString localPath(const QString& serverPath) const;
    // Creates a directory on the server, relative to its root.
    void makeDirectory(const QString& serverPath) const;
    int loginCount() const;
    int userCount() const;   // USER commands received, successful or not
    int quitCount() const;   // QUIT commands received
    int uploadCount() const; // files received whole
    // The names in a directory on the server, sorted, hidden ones too.
    QStringList listing(const QString& serverPath) const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    Options m_options;
    int m_port = 0;
    QString m_error;
};

// A free port on loopback at the time of the call.
int freeLoopbackPort();

// A listening socket on loopback that accepts connections and never says a word.
class SilentServer
{
public:
    SilentServer();
    ~SilentServer();
    QString host() const;

private:
    int m_socket = -1;
    int m_port = 0;
};

} // namespace quendle::testing
