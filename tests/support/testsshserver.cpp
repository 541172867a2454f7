#include "testsshserver.h"
#include "testftpserver.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace quendle::testing {

namespace {

// The login user, made once per machine; another test program may be doing the same at the
// same moment, and the password files are locked while one of them writes.
bool ensureUser(QString* error)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QString failed;
        if (!getpwnam(TestSshServer::kUser.toUtf8().constData()))
            runProgram(
                "useradd",
                {"-M", "-d", "/nonexistent", "-s", "/usr/sbin/nologin", TestSshServer::kUser},
                &failed);
        failed.clear();
        runProgram("chpasswd", {}, &failed,
                   (TestSshServer::kUser + ':' + TestSshServer::kPassword).toUtf8());
        if (failed.isEmpty())
            return true;
        *error = failed;
        QThread::msleep(100);
    }
    return false;
}

void giveToUser(const QString& path)
{
    if (const passwd* user = getpwnam(TestSshServer::kUser.toUtf8().constData()))
        (void)chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid);
}

} // namespace

QByteArray runProgram(const QString& program, const QStringList& arguments, QString* error,
                      const QByteArray& input)
{
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = program + ": " + QString::fromLocal8Bit(process.readAllStandardError());
        return {};
    }
    return process.readAllStandardOutput();
}

TestSshServer::TestSshServer()
{
    if (geteuid() != 0) {
        m_error = "the SFTP server needs root to log a user in with a password";
        return;
    }
    // The login user must be able to reach its directory inside the temporary folder.
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                            QFile::ExeOther);
    QDir().mkpath(home());
    QDir().mkpath("/run/sshd");
    if (!ensureUser(&m_error))
        return;
    giveToUser(home());
    runProgram("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", hostKeyFile()}, &m_error);
    if (!m_error.isEmpty())
        return;

    for (int attempt = 0; attempt < 5 && m_port == 0; ++attempt) {
        const int port = freeLoopbackPort();
        QFile config(m_dir.path() + "/sshd_config");
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\n"
                                    "PidFile %3/sshd.pid\nAuthorizedKeysFile %3/%u\n"
                                    "PasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
                                    "UsePAM no\nStrictModes no\nAllowUsers %4\n"
                                    "Subsystem sftp internal-sftp\n"
                                    "ForceCommand internal-sftp -d %5\n")
                         .arg(port)
                         .arg(hostKeyFile(), m_dir.path(), kUser, home())
                         .toUtf8());
        config.close();
        m_process.setStandardErrorFile(m_dir.path() + "/sshd.log");
        m_process.start("/usr/sbin/sshd", {"-D", "-e", "-f", config.fileName()});
        if (!m_process.waitForStarted(10000))
            break;
        for (int wait = 0; wait < 100 && m_process.state() == QProcess::Running; ++wait) {
            if (readWholeFile(m_dir.path() + "/sshd.log").contains("Server listening")) {
                m_port = port;
                break;
            }
            QThread::msleep(20);
        }
        if (m_port == 0) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    if (m_port == 0)
        m_error = "sshd did not start: " + readWholeFile(m_dir.path() + "/sshd.log");
}

TestSshServer::~TestSshServer()
{
    if (m_process.state() != QProcess::NotRunning) {
        dropSessions();
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString TestSshServer::host() const
{
    return QStringLiteral("sftp://127.0.0.1:%1").arg(m_port);
}

QString TestSshServer::localPath(const QString& path) const
{
    return m_dir.path() + "/root" + path;
}

void TestSshServer::makeDirectory(const QString& path) const
{
    QDir().mkpath(localPath(path));
    // Every level below the root, so that ".." paths can be written to as well.
    for (QString level = path; level.count('/') > 0 && level != "/";
         level = level.left(level.lastIndexOf('/')))
        giveToUser(localPath(level));
}

QByteArray TestSshServer::knownHostsLine() const
{
    const QList<QByteArray> key = readWholeFile(hostKeyFile() + ".pub").split(' ');
    return "[127.0.0.1]:" + QByteArray::number(m_port) + ' ' + key.value(0) + ' ' +
           key.value(1).trimmed() + '\n';
}

int TestSshServer::loginCount() const
{
    return readWholeFile(m_dir.path() + "/sshd.log").count("Accepted password for");
}

int TestSshServer::disconnectCount() const
{
    return readWholeFile(m_dir.path() + "/sshd.log").count("Received disconnect from");
}

void TestSshServer::dropSessions()
{
    // The listener forks one child per connection; those are this server's own processes.
    const qint64 listener = m_process.processId();
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool numeric = false;
        const int pid = entry.toInt(&numeric);
        if (!numeric)
            continue;
        const QByteArray stat = readWholeFile("/proc/" + entry + "/stat");
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toLongLong() == listener)
            kill(pid, SIGTERM);
    }
}

} // namespace quendle::testing
