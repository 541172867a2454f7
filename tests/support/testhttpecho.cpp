#include "testhttpecho.h"

#include <QFile>
#include <QRegularExpression>

#include <cstdio>

namespace quendle::testing {

TestHttpEcho::TestHttpEcho(const QString& bindAddress, const QStringList& launcher)
    : m_bindAddress(bindAddress)
{
    QStringList command = launcher;
    command << QStringLiteral("/usr/bin/python3") << QStringLiteral("-u") << QStringLiteral("-m")
            << QStringLiteral("http.server") << QStringLiteral("--bind") << bindAddress
            << QStringLiteral("--directory") << m_dir.path() << QStringLiteral("0");
    m_process.setProgram(command.takeFirst());
    m_process.setArguments(command);
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start();
    // "Serving HTTP on 127.0.0.1 port 40539 (http://127.0.0.1:40539/) ..."
    if (!m_process.waitForStarted(10000) || !m_process.waitForReadyRead(15000)) {
        m_error = QStringLiteral("the web echo did not start");
        return;
    }
    const auto match =
        QRegularExpression(QStringLiteral("port (\\d+)")).match(m_process.readLine());
    m_port = match.hasMatch() ? match.captured(1).toInt() : 0;
    if (m_port == 0)
        m_error = QStringLiteral("the web echo gave no port");
}

TestHttpEcho::~TestHttpEcho()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString TestHttpEcho::url() const
{
    const QString host = m_bindAddress.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + m_bindAddress + QLatin1Char(']')
                             : m_bindAddress;
    return QStringLiteral("http://%1:%2/ip").arg(host).arg(m_port);
}

void TestHttpEcho::setAnswer(const QByteArray& body)
{
    QFile file(m_dir.filePath(QStringLiteral("ip.new")));
    if (file.open(QIODevice::WriteOnly))
        file.write(body);
    file.close();
    // rename() replaces the old answer in one step; QFile::rename would refuse to.
    std::rename(QFile::encodeName(file.fileName()).constData(),
                QFile::encodeName(m_dir.filePath(QStringLiteral("ip"))).constData());
}

} // namespace quendle::testing
