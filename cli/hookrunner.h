#pragma once

#include "address/ipaddresstext.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QTimer>

#include <chrono>
#include <sys/types.h>

class QProcess;

namespace quendle::cli {

// Runs the programs of [hooks] beside the publisher: each run starts and returns at once, is
// killed when it outlasts the bound, and tells what it printed and how it ended as log lines.
// Runs on the thread that owns it, which needs an event loop.
//
// The bound holds for everything a hook starts, also what leaves its process group (setsid) or
// its parent (a double fork): the runner makes this process a child subreaper, so that such a
// descendant becomes its child instead of init's, reaps those it inherits, and at each bound
// kills the hook's descendants, found in /proc. A process inherited from one of several hooks
// that ran at once is given the bound of the latest one that started before it: it may live
// until that later bound, never ends before its own. The runner assumes that this process starts
// no children but its hooks: any other child that is not a running hook is taken for inherited.
class HookRunner : public QObject
{
    Q_OBJECT
public:
    explicit HookRunner(std::chrono::milliseconds bound = std::chrono::seconds(30),
                        QObject* parent = nullptr);
    ~HookRunner() override;

    // Splits `commandLine` into words (quotes as a shell reads them, but no shell runs) and runs
    // the program with this process's environment plus `extra`. Does nothing for an empty line.
    void run(const QString& commandLine, const QProcessEnvironment& extra);

    int running() const { return m_running; }

    // What is logged of a hook's output at most: so many lines, bytes in all and bytes a line.
    // The rest is read and dropped, so that the hook never waits on a full pipe, and counted.
    static constexpr int kMostLoggedLines = 100;
    static constexpr qsizetype kMostLoggedBytes = 64 * 1024;
    static constexpr qsizetype kMostLineBytes = 1024;

    // The environment of on_change and of on_failure.
    static QProcessEnvironment changeEnvironment(AddressFamily family, const QString& address,
                                                 const QString& oldAddress);
    static QProcessEnvironment failureEnvironment(const QString& target, const QString& reason);

signals:
    // One line each: what the program printed, then how it ended.
    void logLine(const QString& line, bool problem);
    // The run of `program` is over, whichever way.
    void finished(const QString& program);

private:
    struct Output
    {
        QByteArray line;        // the start of the line being read, at most kMostLineBytes
        qint64 lineDropped = 0; // the bytes of that line past what is kept of it
        int lines = 0;          // lines logged
        qsizetype logged = 0;   // bytes logged
        qint64 dropped = 0;     // bytes of the lines not logged at all
    };
    struct Bound
    {
        pid_t hook = 0;
        unsigned long long started = 0; // the hook's start, in /proc's ticks
    };

    void takeOutput(QProcess* process, const QString& name, Output& output, bool atEnd);
    void endLine(const QString& name, Output& output, bool lineBreak);
    struct Swept
    {
        int killed = 0;    // inherited processes killed
        bool left = false; // whether an inherited process is still there
    };

    // Kills the descendants of `ending` (hooks still running at their bound) and, with
    // `everything`, whatever else was inherited; otherwise the inherited ones whose bound has
    // passed. Then reaps the inherited ones that ended.
    Swept sweep(const QList<pid_t>& ending, bool everything);
    QList<pid_t> runningHooks() const;

    std::chrono::milliseconds m_bound;
    int m_running = 0;
    QList<Bound> m_bounds; // the runs whose bound is still ahead, in the order they started
    QTimer m_sweeper;      // while a bound is ahead or an inherited process is left
};

} // namespace quendle::cli
