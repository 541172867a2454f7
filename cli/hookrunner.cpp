#include "cli/hookrunner.h"

#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace quendle::cli {

namespace {

using namespace Qt::Literals::StringLiterals;

// A hook that talks without end must not fill the log.
constexpr int kMostLoggedLines = 100;

// Kills the program's whole group; never group 0, which would be the publisher's own.
void killGroup(const QProcess* process)
{
    const auto pid = static_cast<pid_t>(process->processId());
    if (pid > 0)
        ::kill(-pid, SIGKILL);
}

} // namespace

HookRunner::HookRunner(std::chrono::milliseconds bound, QObject* parent)
    : QObject(parent), m_bound(bound)
{
}

HookRunner::~HookRunner()
{
    // Nothing of a hook outlives the publisher.
    for (QProcess* process : findChildren<QProcess*>()) {
        process->disconnect(this);
        if (process->state() != QProcess::NotRunning)
            killGroup(process);
        process->waitForFinished(1000);
    }
}

void HookRunner::run(const QString& commandLine, const QProcessEnvironment& extra)
{
    QStringList words = QProcess::splitCommand(commandLine);
    if (words.isEmpty())
        return;
    const QString program = words.takeFirst();
    const QString name = u"hook "_s + QFileInfo(program).fileName();
    auto* process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(extra);
    process->setProcessEnvironment(environment);
    process->setProgram(program);
    process->setArguments(words);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setChildProcessModifier([] {
        // A group of its own, so that the bound ends whatever the program started too.
        ::setpgid(0, 0);
        // The publisher blocks the signals its loop handles and ignores SIGPIPE; a program
        // inherits both across exec, and expects neither.
        sigset_t none;
        sigemptyset(&none);
        ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
        std::signal(SIGPIPE, SIG_DFL);
    });
    auto* timer = new QTimer(process);
    timer->setSingleShot(true);
    auto killed = std::make_shared<bool>(false);
    auto lines = std::make_shared<int>(0);

    connect(timer, &QTimer::timeout, process, [process, killed] {
        *killed = true;
        killGroup(process);
    });
    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, process, name, lines] { takeOutput(process, name, *lines, false); });
    connect(process, &QProcess::finished, this,
            [this, process, name, killed, lines, program](int code, QProcess::ExitStatus how) {
                takeOutput(process, name, *lines, true);
                if (*killed)
                    emit logLine(u"%1 did not end within %2 s and was killed"_s.arg(name).arg(
                                     double(m_bound.count()) / 1000),
                                 true);
                else if (how == QProcess::CrashExit)
                    emit logLine(u"%1 was ended by a signal"_s.arg(name), true);
                else
                    emit logLine(u"%1 exited with status %2"_s.arg(name).arg(code), code != 0);
                --m_running;
                process->deleteLater();
                emit finished(program);
            });
    connect(process, &QProcess::errorOccurred, this,
            [this, process, name, program](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart)
                    return;
                emit logLine(u"%1 could not be started: %2"_s.arg(name, process->errorString()),
                             true);
                --m_running;
                process->deleteLater();
                emit finished(program);
            });
    ++m_running;
    process->start();
    timer->start(m_bound);
}

void HookRunner::takeOutput(QProcess* process, const QString& name, int& lines, bool atEnd)
{
    while (process->canReadLine() || (atEnd && process->bytesAvailable() > 0)) {
        QByteArray line = process->readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        if (++lines <= kMostLoggedLines)
            emit logLine(u"%1: %2"_s.arg(name, QString::fromUtf8(line)), false);
        else if (lines == kMostLoggedLines + 1)
            emit logLine(u"%1: further output is not logged"_s.arg(name), false);
    }
}

QProcessEnvironment HookRunner::changeEnvironment(AddressFamily family, const QString& address,
                                                  const QString& oldAddress)
{
    QProcessEnvironment environment;
    environment.insert(u"QUENDLE_FAMILY"_s, family == AddressFamily::Ipv4 ? u"ipv4"_s : u"ipv6"_s);
    environment.insert(u"QUENDLE_ADDRESS"_s, address);
    environment.insert(u"QUENDLE_OLD_ADDRESS"_s, oldAddress);
    return environment;
}

QProcessEnvironment HookRunner::failureEnvironment(const QString& target, const QString& reason)
{
    QProcessEnvironment environment;
    environment.insert(u"QUENDLE_TARGET"_s, target);
    environment.insert(u"QUENDLE_REASON"_s, reason);
    return environment;
}

} // namespace quendle::cli
