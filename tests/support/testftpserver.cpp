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
    const QString mode = options.stallUploads      ? QStringLiteral("stall")
                         : options.failFirstUpload ? QStringLiteral("failfirst")
                                                   : QString();
    QStringList command = options.launcher;
    command << QStringLiteral("/usr/bin/python3") << QStringLiteral(QUENDLE_FTPSERVER_SCRIPT)
            << m_dir.path() + "/root" << kUser << kPassword << m_dir.path() + "/logins"
            << QString::number(options.idleSeconds) << kHome << options.bindAddress << mode;
    m_process.setProgram(command.takeFirst());
    m_process.setArguments(command);
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

int TestFtpServer::quitCount() const
{
    return readWholeFile(m_dir.path() + "/logins").count("quit\n");
}

int TestFtpServer::uploadCount() const
{
    return readWholeFile(m_dir.path() + "/logins").count("stor\n");
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

QByteArray readWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace quendle::testing
