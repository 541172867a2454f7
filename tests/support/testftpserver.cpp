#include "testftpserver.h"

#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quendle::testing {

TestFtpServer::TestFtpServer() : TestFtpServer(Options{}) {}

TestFtpServer::TestFtpServer(const Options& options) : m_options(options)
{
    makeDirectory(kHome);
    QStringList arguments{QStringLiteral("/usr/bin/python3"),
                          QStringLiteral(QUENDLE_FTPSERVER_SCRIPT),
                          m_dir.path() + "/root",
                          kUser,
                          kPassword,
                          m_dir.path() + "/logins",
                          QString::number(options.idleSeconds),
                          kHome,
                          "--bind",
                          options.bindAddress,
                          "--port",
                          QString::number(options.port),
                          "--slow-cwd",
                          QString::number(options.slowCwdSeconds)};
    if (options.stallUploads)
        arguments << "--stall";
    if (options.failFirstUpload)
        arguments << "--fail-first";
    if (options.cutUploadsAfter)
        arguments << "--cut-after" << QString::number(options.cutUploadsAfter);
    if (options.refuseRename)
        arguments << "--no-rename";
    if (options.refuseDotFiles)
        arguments << "--no-dot-files";
    if (options.echoPassword)
        arguments << "--echo-password";
    if (!options.tls.isEmpty())
        arguments << "--tls" << options.tls << "--cert" << options.certificate << "--key"
                  << options.key;
    // A launcher (such as nsenter into a namespace) goes in front of the whole command.
    arguments = options.launcher + arguments;
    m_process.setProgram(arguments.takeFirst());
    m_process.setArguments(arguments);
    m_process.start();
    if (!m_process.waitForStarted(10000) || !m_process.waitForReadyRead(15000)) {
        m_error = QStringLiteral("FTP server did not start: ") +
                  QString::fromLocal8Bit(m_process.readAllStandardError());
        return;
    }
    m_port = m_process.readLine().trimmed().toInt();
    if (m_port == 0)
        m_error = QStringLiteral("FTP server gave no port");
}

TestFtpServer::~TestFtpServer()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString TestFtpServer::host() const
{
    const QString address = m_options.bindAddress.contains(QLatin1Char(':'))
                                ? QStringLiteral("[%1]").arg(m_options.bindAddress)
                                : m_options.bindAddress;
    return QStringLiteral("%1:%2").arg(address).arg(m_port);
}

QString TestFtpServer::localPath(const QString& serverPath) const
{
    return m_dir.path() + "/root" + serverPath;
}

void TestFtpServer::makeDirectory(const QString& serverPath) const
{
    QDir().mkpath(localPath(serverPath));
}

int TestFtpServer::loginCount() const
{
    return readWholeFile(m_dir.path() + "/logins").count("login\n");
}

int TestFtpServer::userCount() const
{
    return readWholeFile(m_dir.path() + "/logins").count("user\n");
}

int TestFtpServer::quitCount() const
{
    return readWholeFile(m_dir.path() + "/logins").count("quit\n");
}

int TestFtpServer::uploadCount() const
{
    return readWholeFile(m_dir.path() + "/logins").count("stor\n");
}

QStringList TestFtpServer::listing(const QString& serverPath) const
{
    return QDir(localPath(serverPath))
        .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

SilentServer::SilentServer()
{
    m_socket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        listen(m_socket, 8) == 0 &&
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        m_port = ntohs(address.sin_port);
}

SilentServer::~SilentServer()
{
    close(m_socket);
}

QString SilentServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

int freeLoopbackPort()
{
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(probe);
    return port;
}

} // namespace quendle::testing
