#include "testknot.h"
#include "testsshserver.h"

#include <QFile>
#include <QRandomGenerator>
#include <QThread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quendle::testing {

namespace {

// A port free for UDP at this moment; knotd takes it a moment later.
int freePort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

TestKnot::TestKnot(const QStringList& launcher) : m_launcher(launcher)
{
    QByteArray key(32, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(key.data()), 8);
    m_secret = QString::fromLatin1(key.toBase64());
    const QByteArray zone = "$ORIGIN example.test.\n$TTL 60\n"
                            "@ SOA ns.example.test. admin.example.test. 1 3600 600 86400 60\n"
                            "@ NS ns.example.test.\nns A 127.0.0.1\n"
                            "home A 192.0.2.1\nhome AAAA 2001:db8::1\n";
    if (!writeFile(m_dir.filePath("example.test.zone"), zone)) {
        m_error = QStringLiteral("cannot write the zone file");
        return;
    }
    for (int attempt = 0; attempt < 5 && !running(); ++attempt)
        start();
}

bool TestKnot::start()
{
    const int port = freePort();
    const QString dir = m_dir.path();
    const QString config =
        QStringLiteral("server:\n    listen: 127.0.0.1@%1\n    rundir: %2\n%3"
                       "key:\n  - id: quendle\n    algorithm: hmac-sha256\n    secret: %4\n"
                       "acl:\n  - id: update\n    key: quendle\n    action: update\n"
                       "database:\n    storage: %2\n"
                       "template:\n  - id: default\n    storage: %2\n    file: \"%s.zone\"\n"
                       "    zonefile-sync: -1\n    journal-content: changes\n"
                       "zone:\n  - domain: example.test\n    acl: update\n")
            .arg(port)
            .arg(dir, geteuid() == 0 ? QStringLiteral("    user: root:root\n") : QString(),
                 m_secret);
    if (!writeFile(dir + "/knot.conf", config.toUtf8())) {
        m_error = QStringLiteral("cannot write knot.conf");
        return false;
    }
    QStringList command =
        m_launcher + QStringList{QStringLiteral("knotd"), QStringLiteral("-c"), dir + "/knot.conf"};
    m_process.setProgram(command.takeFirst());
    m_process.setArguments(command);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("knotd did not start: ") + m_process.errorString();
        return false;
    }
    m_port = port;
    for (int wait = 0; wait < 100; ++wait) {
        if (m_process.state() != QProcess::Running)
            break;
        if (!serial().isEmpty())
            return true;
        QThread::msleep(50);
    }
    m_port = 0;
    m_process.kill();
    m_process.waitForFinished(5000);
    m_error = QStringLiteral("knotd did not answer: ") +
              QString::fromLocal8Bit(m_process.readAll()).right(2000);
    return false;
}

TestKnot::~TestKnot()
{
    // Its zone goes with the folder: no orderly shutdown needed.
    m_process.kill();
    m_process.waitForFinished(5000);
}

QByteArray TestKnot::run(const QString& program, const QStringList& arguments, QString* error,
                         const QByteArray& input) const
{
    QStringList command = m_launcher + QStringList{program} + arguments;
    const QString first = command.takeFirst();
    return runProgram(first, command, error, input);
}

// Over TCP: before knotd listens, a refused connection fails at once where UDP waits.
QStringList TestKnot::records(const QString& name, const QString& type) const
{
    QString error;
    const QByteArray out =
        run(QStringLiteral("kdig"),
            {QStringLiteral("@127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
             QStringLiteral("+short"), QStringLiteral("+norecurse"), QStringLiteral("+tcp"),
             QStringLiteral("+timeout=2"), name, type},
            &error);
    QStringList lines = QString::fromLatin1(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}

QStringList TestKnot::answers(const QStringList& questions) const
{
    QStringList arguments{
        QStringLiteral("@127.0.0.1"), QStringLiteral("-p"),      QString::number(m_port),
        QStringLiteral("+norecurse"), QStringLiteral("+tcp"),    QStringLiteral("+timeout=2"),
        QStringLiteral("+noall"),     QStringLiteral("+answer"), QStringLiteral("+nocrypto")};
    for (const QString& question : questions)
        arguments << question.split(QLatin1Char(' '));
    QString error;
    const QByteArray out = runProgram(QStringLiteral("kdig"), arguments, &error);
    QStringList lines;
    for (const QString& line :
         QString::fromLatin1(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines << line.simplified();
    lines.sort();
    return lines;
}

QString TestKnot::serial() const
{
    const QStringList soa = records(QStringLiteral("example.test"), QStringLiteral("SOA"));
    return soa.isEmpty() ? QString() : soa.first().section(QLatin1Char(' '), 2, 2);
}

QString TestKnot::update(const QString& commands) const
{
    QString error;
    run(QStringLiteral("knsupdate"),
        {QStringLiteral("-y"), QStringLiteral("hmac-sha256:quendle:") + m_secret}, &error,
        QStringLiteral("server 127.0.0.1 %1\nzone example.test\n%2\nsend\n")
            .arg(m_port)
            .arg(commands)
            .toUtf8());
    return error;
}

} // namespace quendle::testing
