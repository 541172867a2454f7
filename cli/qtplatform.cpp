#include "cli/qtplatform.h"

#include <QTimer>

namespace quendle::cli {

QtEnginePlatform::QtEnginePlatform(QObject* parent) : QObject(parent)
{
    m_pool.limit = kPoolSize;
    for (const char* lane : {"address", "router"})
        m_ownThreads[QString::fromLatin1(lane)];
}

QtEnginePlatform::~QtEnginePlatform()
{
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_pool.wake.notify_all();
    for (auto& [lane, workers] : m_ownThreads)
        workers.wake.notify_all();
    // The workers end first: their last continuations are queued to this object.
    for (std::thread& thread : m_pool.threads)
        thread.join();
    for (auto& [lane, workers] : m_ownThreads)
        for (std::thread& thread : workers.threads)
            thread.join();
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

QtEnginePlatform::Workers& QtEnginePlatform::workersOf(const QString& lane)
{
    const auto own = m_ownThreads.find(lane);
    return own != m_ownThreads.end() ? own->second : m_pool;
}

void QtEnginePlatform::run(const QString& lane, std::function<Continuation()> work)
{
    const std::lock_guard lock(m_mutex);
    if (m_ending)
        return;
    Lane& queue = m_lanes[lane];
    queue.jobs.push_back([this, work = std::move(work)] {
        Continuation next = work();
        QMetaObject::invokeMethod(this, std::move(next), Qt::QueuedConnection);
    });
    if (queue.running || queue.jobs.size() > 1)
        return; // the lane's worker takes it after the jobs before it
    makeReady(workersOf(lane), lane);
}

void QtEnginePlatform::makeReady(Workers& workers, const QString& lane, std::size_t looking)
{
    workers.ready.push_back(lane);
    // A thread is started when the lanes waiting outnumber the threads free to take them (an
    // idle one woken for each of several lanes would take them one after the other), up to the
    // group's limit.
    if (workers.ready.size() > workers.idle + looking && workers.threads.size() < workers.limit)
        workers.threads.emplace_back([this, &workers] { this->work(workers); });
    else
        workers.wake.notify_one();
}

void QtEnginePlatform::work(Workers& workers)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++workers.idle;
        workers.wake.wait(lock, [&] { return m_ending || !workers.ready.empty(); });
        --workers.idle;
        if (workers.ready.empty())
            return; // ending, and every job queued before has run
        const QString lane = workers.ready.front();
        workers.ready.pop_front();
        Lane& queue = m_lanes[lane];
        std::function<void()> job = std::move(queue.jobs.front());
        queue.jobs.pop_front();
        queue.running = true;
        lock.unlock();
        job();
        // What the job holds goes before the lane is free: a login it held to the last logs out
        // now, not under the lock nor after the program has been told that nothing runs.
        job = nullptr;
        lock.lock();
        queue.running = false;
        if (!queue.jobs.empty()) {
            // The lane's next job waits behind the lanes that were ready before it.
            makeReady(workers, lane, 1); // this worker looks for its next lane at once
        } else {
            m_lanes.erase(lane);
            if (m_lanes.empty())
                m_lanesEnded.notify_all();
        }
    }
}

bool QtEnginePlatform::waitForWork(std::chrono::milliseconds bound)
{
    std::unique_lock lock(m_mutex);
    // A lane lives while it has a job running or waiting.
    return m_lanesEnded.wait_for(lock, bound, [this] { return m_lanes.empty(); });
}

} // namespace quendle::cli
