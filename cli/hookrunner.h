#pragma once

#include "address/ipaddresstext.h"

#include <QObject>
#include <QProcessEnvironment>

#include <chrono>

class QProcess;

namespace quendle::cli {

// Runs the programs of [hooks] beside the publisher: each run starts and returns at once, is
// killed when it outlasts the bound, and tells what it printed and how it ended as log lines.
// Runs on the thread that owns it, which needs an event loop.
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
    void takeOutput(QProcess* process, const QString& name, int& lines, bool atEnd);

    std::chrono::milliseconds m_bound;
    int m_running = 0;
};

} // namespace quendle::cli
