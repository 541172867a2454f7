#pragma once

#include "cli/serialworker.h"
#include "service/engineplatform.h"

#include <QObject>

#include <map>
#include <memory>

class QTimer;

namespace quendle::cli {

// The engine's time and threads in the program: steady time, timers on the main event loop, and
// a worker thread per lane (one for address checks, one for the router, one per target).
class QtEnginePlatform : public QObject, public EnginePlatform
{
    Q_OBJECT
public:
    explicit QtEnginePlatform(QObject* parent = nullptr);
    // Ends every worker, waiting for the job it runs.
    ~QtEnginePlatform() override;

    TimePoint now() const override;
    TimerId startTimer(std::chrono::milliseconds delay, std::function<void()> callback) override;
    void cancelTimer(TimerId id) override;
    void run(const QString& lane, std::function<Continuation()> work) override;

    // True while a worker still runs a job: a server that outlived every bound.
    bool workStillRunning() const;

private:
    std::map<TimerId, QTimer*> m_timers;
    TimerId m_lastTimer = 0;
    std::map<QString, std::unique_ptr<SerialWorker>> m_workers;
};

} // namespace quendle::cli
