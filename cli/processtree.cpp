#include "cli/processtree.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QSet>

#include <csignal>
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quendle::cli::processtree {

namespace {

// "PID (COMMAND) STATE PPID ...": the command may hold blanks and parentheses, so the fields are
// counted from the last ")". The start time is field 22.
bool parseStat(pid_t pid, Process& process)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray stat = file.read(4096);
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return false;
    bool parentRead = false;
    bool startRead = false;
    process.pid = pid;
    process.zombie = fields[0] == "Z";
    process.parent = static_cast<pid_t>(fields[1].toInt(&parentRead));
    process.started = fields[19].toULongLong(&startRead);
    return parentRead && startRead;
}

} // namespace

QList<Process> all()
{
    QList<Process> processes;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return processes;
    while (const dirent* entry = ::readdir(proc)) {
        bool number = false;
        const int pid = QByteArray(entry->d_name).toInt(&number);
        Process process;
        if (number && pid > 0 && parseStat(pid, process))
            processes.append(process);
    }
    ::closedir(proc);
    return processes;
}

unsigned long long startOf(pid_t pid)
{
    Process process;
    return parseStat(pid, process) ? process.started : 0;
}

QList<Process> withDescendants(const QList<Process>& processes, pid_t from)
{
    QMultiHash<pid_t, Process> children;
    QList<Process> found;
    for (const Process& process : processes) {
        children.insert(process.parent, process);
        if (process.pid == from)
            found.append(process);
    }
    // A pid reused while /proc was read could make a loop of parents: each pid is taken once.
    QSet<pid_t> seen{from};
    for (qsizetype next = 0; next < found.size(); ++next)
        for (auto child = children.constFind(found[next].pid);
             child != children.cend() && child.key() == found[next].pid; ++child)
            if (!seen.contains(child->pid)) {
                seen.insert(child->pid);
                found.append(child.value());
            }
    return found;
}

bool kill(const Process& process)
{
    // By syscall(): Debian 12's <sys/pidfd.h> declares the wrappers without C linkage.
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, process.pid, 0));
    if (handle < 0)
        return false; // gone already
    Process now;
    const bool same = parseStat(process.pid, now) && now.started == process.started;
    const bool sent = same && ::syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0) == 0;
    ::close(handle);
    return sent;
}

} // namespace quendle::cli::processtree
