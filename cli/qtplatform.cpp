#include "cli/qtplatform.h"

#include <QTimer>

namespace quendle::cli {

QtEnginePlatform::QtEnginePlatform(QObject* parent) : QObject(parent) {}

QtEnginePlatform::~QtEnginePlatform()
{
    // The workers end first: their last continuations are queued to this object.
    m_workers.clear();
}

EnginePlatform::TimePoint QtEnginePlatform::now() const
{
    return std::chrono::steady_clock::now();
}

EnginePlatform::TimerId QtEnginePlatform::startTimer(std::chrono::milliseconds delay,
                                                     std::function<void()> callback)
{
    const TimerId id = ++m_lastTimer;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    timer->callOnTimeout(this, [this, id, timer, callback = std::move(callback)] {
        m_timers.erase(id);
        timer->deleteLater();
        callback();
    });
    timer->start(delay);
    m_timers[id] = timer;
    return id;
}

void QtEnginePlatform::cancelTimer(TimerId id)
{
    const auto found = m_timers.find(id);
    if (found == m_timers.end())
        return;
    found->second->stop();
    found->second->deleteLater();
    m_timers.erase(found);
}

void QtEnginePlatform::run(const QString& lane, std::function<Continuation()> work)
{
    auto& worker = m_workers[lane];
    if (!worker)
        worker = std::make_unique<SerialWorker>();
    worker->post([this, work = std::move(work)] {
        Continuation next = work();
        QMetaObject::invokeMethod(this, std::move(next), Qt::QueuedConnection);
    });
}

bool QtEnginePlatform::workStillRunning() const
{
    for (const auto& [lane, worker] : m_workers)
        if (worker->busy())
            return true;
    return false;
}

} // namespace quendle::cli
