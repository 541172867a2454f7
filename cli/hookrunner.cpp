#include "cli/hookrunner.h"

#include "cli/processtree.h"

#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quendle::cli {

namespace {

using namespace Qt::Literals::StringLiterals;

// How often inherited processes are looked for, reaped and, past their bound, killed.
constexpr auto kSweepInterval = std::chrono::seconds(1);

// The length of the end of `line` that is a UTF-8 sequence cut short, to be dropped with the rest.
qsizetype cutSequence(const QByteArray& line)
{
    qsizetype start = line.size() - 1;
    while (start > 0 && line.size() - start < 4 && (uchar(line[start]) & 0xc0) == 0x80)
        --start;
    if (start < 0)
        return 0;
    const uchar lead = uchar(line[start]);
    const qsizetype length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
    return start + length > line.size() ? line.size() - start : 0;
}

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
    m_sweeper.setInterval(kSweepInterval);
    connect(&m_sweeper, &QTimer::timeout, this, [this] {
        if (!sweep({}, false).left && m_bounds.isEmpty())
            m_sweeper.stop();
    });
}

HookRunner::~HookRunner()
{
    // Nothing of a hook outlives the publisher.
    const QList<pid_t> running = runningHooks();
    const QList<QProcess*> processes = findChildren<QProcess*>();
    for (QProcess* process : processes) {
        process->disconnect(this);
        if (process->state() != QProcess::NotRunning)
            killGroup(process);
    }
    m_bounds.clear();
    sweep(running, true);
    for (QProcess* process : processes)
        process->waitForFinished(1000);
    // What was killed is reaped once it has ended, which takes a moment.
    for (int waited = 0; sweep({}, true).left && waited < 1000; waited += 10)
        QThread::msleep(10);
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
    auto killed = std::make_shared<bool>(false);
    auto output = std::make_shared<Output>();

    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, process, name, output] { takeOutput(process, name, *output, false); });
    connect(process, &QProcess::finished, this,
            [this, process, name, killed, output, program](int code, QProcess::ExitStatus how) {
                takeOutput(process, name, *output, true);
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
    // Descendants that leave the hook become this process's children, not init's.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    ++m_running;
    process->start();
    if (process->state() == QProcess::NotRunning)
        return;
    // The bound outlives the run: what the hook left behind is killed at it too.
    const auto hook = static_cast<pid_t>(process->processId());
    m_bounds.append({hook, processtree::startOf(hook)});
    m_sweeper.start();
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this,
            [this, timer, hook, name, process = QPointer<QProcess>(process), killed] {
                timer->deleteLater();
                for (qsizetype i = 0; i < m_bounds.size(); ++i)
                    if (m_bounds[i].hook == hook) {
                        m_bounds.removeAt(i);
                        break;
                    }
                // Its pid stands for the hook only while the QProcess has not reaped it.
                QList<pid_t> ending;
                if (process && process->state() != QProcess::NotRunning) {
                    *killed = true;
                    killGroup(process);
                    ending << hook;
                }
                const Swept swept = sweep(ending, false);
                if (ending.isEmpty() && swept.killed > 0)
                    emit logLine(u"%1: killed what it left running past its bound of %2 s (%3 "
                                 u"processes)"_s.arg(name)
                                     .arg(double(m_bound.count()) / 1000)
                                     .arg(swept.killed),
                                 true);
            });
    timer->start(m_bound);
}

QList<pid_t> HookRunner::runningHooks() const
{
    QList<pid_t> running;
    for (const QProcess* process : findChildren<QProcess*>())
        if (process->state() != QProcess::NotRunning && process->processId() > 0)
            running << static_cast<pid_t>(process->processId());
    return running;
}

HookRunner::Swept HookRunner::sweep(const QList<pid_t>& ending, bool everything)
{
    const pid_t self = ::getpid();
    const QList<pid_t> running = runningHooks();
    // An inherited process comes from a hook that started before it: when it started before
    // every run whose bound is still ahead, its own hook's bound has passed.
    const unsigned long long passed =
        everything || m_bounds.isEmpty() ? ULLONG_MAX : m_bounds.first().started;
    QSet<std::pair<pid_t, unsigned long long>> signalled;
    Swept swept;
    // Again while kills land on processes not seen before: one may fork while it is killed.
    for (bool more = true; more && signalled.size() < 10000;) {
        more = false;
        const QList<processtree::Process> processes = processtree::all();
        QList<processtree::Process> doomed;
        for (const pid_t hook : ending)
            doomed << processtree::withDescendants(processes, hook);
        const qsizetype ofHooks = doomed.size();
        for (const processtree::Process& process : processes)
            if (process.parent == self && !running.contains(process.pid) &&
                process.started < passed)
                doomed << processtree::withDescendants(processes, process.pid);
        for (qsizetype i = 0; i < doomed.size(); ++i) {
            const processtree::Process& process = doomed[i];
            if (process.zombie || signalled.contains({process.pid, process.started}))
                continue;
            signalled.insert({process.pid, process.started});
            if (processtree::kill(process)) {
                more = true;
                if (i >= ofHooks)
                    ++swept.killed;
            }
        }
    }
    // Only inherited children are reaped here: the QProcess of a running hook reaps its own.
    for (const processtree::Process& process : processtree::all()) {
        if (process.parent != self || running.contains(process.pid))
            continue;
        if (!process.zombie || ::waitpid(process.pid, nullptr, WNOHANG) != process.pid)
            swept.left = true;
    }
    return swept;
}

void HookRunner::takeOutput(QProcess* process, const QString& name, Output& output, bool atEnd)
{
    // Everything there is, read at once: QProcess holds no more than one read from the pipe.
    char buffer[16 * 1024];
    for (qint64 size; (size = process->read(buffer, sizeof buffer)) > 0;) {
        for (const char* at = buffer; at < buffer + size;) {
            const char* lineBreak =
                static_cast<const char*>(std::memchr(at, '\n', buffer + size - at));
            const char* end = lineBreak ? lineBreak : buffer + size;
            const bool logging =
                output.lines < kMostLoggedLines && output.logged < kMostLoggedBytes;
            const qsizetype room =
                logging ? std::min(kMostLineBytes, kMostLoggedBytes - output.logged) -
                              output.line.size()
                        : 0;
            const qsizetype kept = std::clamp<qsizetype>(end - at, 0, std::max<qsizetype>(room, 0));
            output.line.append(at, kept);
            output.lineDropped += end - at - kept;
            at = end;
            if (lineBreak) {
                endLine(name, output, true);
                ++at;
            }
        }
    }
    if (!atEnd)
        return;
    if (!output.line.isEmpty() || output.lineDropped > 0)
        endLine(name, output, false);
    if (output.dropped > 0)
        emit logLine(
            u"%1: further output not logged (dropped %2 bytes)"_s.arg(name).arg(output.dropped),
            false);
}

void HookRunner::endLine(const QString& name, Output& output, bool lineBreak)
{
    if (output.lines >= kMostLoggedLines || output.logged >= kMostLoggedBytes) {
        output.dropped += output.line.size() + output.lineDropped + (lineBreak ? 1 : 0);
    } else {
        if (output.lineDropped > 0) {
            const qsizetype cut = cutSequence(output.line);
            output.line.chop(cut);
            output.lineDropped += cut;
        }
        ++output.lines;
        output.logged += output.line.size();
        QString text = QString::fromUtf8(output.line);
        if (output.lineDropped > 0)
            text += u" [line cut: dropped %1 bytes]"_s.arg(output.lineDropped);
        emit logLine(u"%1: %2"_s.arg(name, text), false);
    }
    output.line.clear();
    output.lineDropped = 0;
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
