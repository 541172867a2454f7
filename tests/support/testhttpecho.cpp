#include "testhttpecho.h"

#include <QFile>
#include <QRegularExpression>

#include <cstdio>

namespace quendle::testing {

TestHttpEcho::TestHttpEcho(const QString& bindAddress, const QStringList& launcher,
                           const TestCertificates::Pair* tls)
    : m_bindAddress(bindAddress), m_scheme(tls ? QStringLiteral("https") : QStringLiteral("http"))
{
    QStringList command = launcher;
    command << QStringLiteral("/usr/bin/python3") << QStringLiteral(QUENDLE_HTTPECHO_SCRIPT)
            << m_dir.path() << QStringLiteral("--bind") << bindAddress;
    if (tls)
        command << QStringLiteral("--tls") << tls->certificate << tls->key;
    m_process.setProgram(command.takeFirst());
    m_process.setArguments(command);
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start();
    // "port 40539"
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

QString TestHttpEcho::base() const
{
    const QString host = m_bindAddress.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + m_bindAddress + QLatin1Char(']')
                             : m_bindAddress;
    return QStringLiteral("%1://%2:%3").arg(m_scheme, host).arg(m_port);
}

QString TestHttpEcho::url() const
{
    return base() + QStringLiteral("/ip");
}

QString TestHttpEcho::urlAfterRedirects(int redirects) const
{
    return base() + QStringLiteral("/hops/%1").arg(redirects);
}

namespace {

// Replaces the file in one step, so that no request sees half of it; QFile::rename would refuse
// to replace.
void replaceWhole(const QString& path, const QByteArray& bytes)
{
    QFile file(path + QStringLiteral(".new"));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    file.close();
    std::rename(QFile::encodeName(file.fileName()).constData(),
                QFile::encodeName(path).constData());
}

} // namespace

void TestHttpEcho::setAnswer(const QByteArray& body)
{
    replaceWhole(m_dir.filePath(QStringLiteral("ip")), body);
}

void TestHttpEcho::redirectTo(const QString& location)
{
    replaceWhole(m_dir.filePath(QStringLiteral("redirect")), location.toUtf8());
}

} // namespace quendle::testing
