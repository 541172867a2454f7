#include "publisherfixture.h"

#include <QFile>
#include <QThread>

#include <csignal>

namespace quendle::testing {

void PublisherFixture::writeConfig(const QByteArray& address, const QByteArray& targets,
                                   const QByteArray& email)
{
    QFile file(configPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[page]\nemail = " + email + "\nfile = " + pagePath().toUtf8() + "\n" + address +
               "\n" + targets);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

QByteArray PublisherFixture::targetFor(const QByteArray& name, const QString& host,
                                       const QString& password)
{
    return "[target " + name + "]\nhost = " + host.toUtf8() +
           "\nuser = " + TestFtpServer::kUser.toUtf8() + "\npassword = " + password.toUtf8() +
           "\ndirectory = /www\n";
}

QProcessEnvironment PublisherFixture::withStateHome(QProcessEnvironment environment) const
{
    environment.insert("XDG_STATE_HOME", dir.filePath("state"));
    return environment;
}

QStringList PublisherFixture::withConfig(const QStringList& arguments) const
{
    return QStringList{QStringLiteral(QUENDLE_PUBLISH_PROGRAM), "--config", configPath()} +
           arguments;
}

PublisherFixture::Run PublisherFixture::run(const QStringList& arguments,
                                            const QStringList& launcher)
{
    QStringList command = launcher + withConfig(arguments);
    QProcess process;
    process.setProcessEnvironment(withStateHome(QProcessEnvironment::systemEnvironment()));
    process.start(command.takeFirst(), command);
    Run result;
    if (!process.waitForFinished(90000)) {
        process.kill();
        process.waitForFinished();
        result.err = "did not finish";
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void PublisherFixture::startWatch(const QStringList& launcher,
                                  const QProcessEnvironment& environment)
{
    QStringList command = launcher + withConfig({"--verbose", "watch"});
    watch.setProcessEnvironment(withStateHome(environment));
    watch.setStandardOutputFile(QProcess::nullDevice());
    watch.setStandardErrorFile(dir.filePath("watch.log"));
    watch.start(command.takeFirst(), command);
    ASSERT_TRUE(watch.waitForStarted(10000));
}

QString PublisherFixture::watchLog() const
{
    return QString::fromUtf8(readWholeFile(dir.filePath("watch.log")));
}

void PublisherFixture::sendToWatch(int signal)
{
    ::kill(static_cast<pid_t>(watch.processId()), signal);
}

int PublisherFixture::stopWatch()
{
    sendToWatch(SIGTERM);
    if (!watch.waitForFinished(60000)) {
        watch.kill();
        watch.waitForFinished();
        return -1;
    }
    return watch.exitStatus() == QProcess::NormalExit ? watch.exitCode() : -1;
}

bool PublisherFixture::waitFor(const std::function<bool()>& condition, int milliseconds)
{
    for (int waited = 0; waited < milliseconds; waited += 50) {
        if (condition())
            return true;
        QThread::msleep(50);
    }
    return condition();
}

QByteArray PublisherFixture::remotePage(const TestFtpServer& server, const QString& path)
{
    return readWholeFile(server.localPath(path));
}

QString PublisherFixture::writeSecretFile(const QString& name, const QString& secret) const
{
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(secret.toUtf8() + "\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return file.fileName();
}

} // namespace quendle::testing
