#pragma once

#include "service/engineplatform.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

class QTimer;

namespace quendle::cli {

// The engine's time and threads in the program: steady time, timers on the main event loop, and
// a fixed pool of worker threads shared by every lane. The jobs of one lane run one after another,
// in order; lanes run side by side, so a job that blocks (a server that does not answer, until the
// transfer's own bounds end it) holds up only its own lane. The address checks and the router have
// a thread each, so that uploads that hang never delay noticing a new address.
class QtEnginePlatform : public QObject, public EnginePlatform
{
    Q_OBJECT
public:
    static constexpr int kPoolSize = 8;

    explicit QtEnginePlatform(QObject* parent = nullptr);
    // Runs the jobs still queued, then ends every worker.
    ~QtEnginePlatform() override;

    TimePoint now() const override;
    TimerId startTimer(std::chrono::milliseconds delay, std::function<void()> callback) override;
    void cancelTimer(TimerId id) override;
    void run(const QString& lane, std::function<Continuation()> work) override;

    // Waits up to `bound` for the workers to finish what they run: false when a job still runs
    // then (a server that outlived every bound).
    bool waitForWork(std::chrono::milliseconds bound);

private:
    struct Lane
    {
        std::deque<std::function<void()>> jobs;
        bool running = false; // a worker has taken this lane's front job
    };
    // One group of workers: the shared pool, or a lane's own thread.
    struct Workers
    {
        std::deque<QString> ready; // lanes with a job and no worker, in the order they became so
        std::vector<std::thread> threads;
        std::size_t limit = 1;
        std::size_t idle = 0;
        std::condition_variable wake;
    };

    Workers& workersOf(const QString& lane);
    void work(Workers& workers);
    // Queues `lane` for a worker of `workers`, starting one where none is free; `looking`
    // workers besides the idle ones are about to take a lane. Under the lock.
    void makeReady(Workers& workers, const QString& lane, std::size_t looking = 0);

    std::map<TimerId, QTimer*> m_timers;
    TimerId m_lastTimer = 0;

    mutable std::mutex m_mutex;
    std::map<QString, Lane> m_lanes;
    std::condition_variable m_lanesEnded; // the last lane ended
    Workers m_pool;
    std::map<QString, Workers> m_ownThreads; // "address", "router"
    bool m_ending = false;
};

} // namespace quendle::cli
