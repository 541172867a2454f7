#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace quendle {

// What the publishing engine is given from outside: the time, timers, and workers for the work
// that blocks (asking sources, uploads, the router). Production runs timers on the event loop and
// work on threads; tests advance a virtual clock and finish the work when they choose.
class EnginePlatform
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using TimerId = quint64;
    // Runs on the engine's thread once the work that returned it is done.
    using Continuation = std::function<void()>;

    virtual ~EnginePlatform() = default;

    virtual TimePoint now() const = 0;
    // Calls `callback` on the engine's thread once `delay` has passed, unless cancelled first.
    // Never calls it before returning. Ids are never 0.
    virtual TimerId startTimer(std::chrono::milliseconds delay, std::function<void()> callback) = 0;
    virtual void cancelTimer(TimerId id) = 0;
    // Runs `work` on the worker called `lane`: the jobs of one lane one after another, lanes side
    // by side, so that a job that blocks holds up only its own lane. The continuation `work`
    // returns is called on the engine's thread.
    virtual void run(const QString& lane, std::function<Continuation()> work) = 0;
};

// A single-shot timer of the platform's, stopped when it goes.
class EngineTimer
{
public:
    explicit EngineTimer(EnginePlatform& platform) : m_platform(&platform) {}
    ~EngineTimer() { stop(); }
    EngineTimer(const EngineTimer&) = delete;
    EngineTimer& operator=(const EngineTimer&) = delete;

    void start(std::chrono::milliseconds delay, std::function<void()> callback)
    {
        stop();
        m_due = m_platform->now() + delay;
        m_id = m_platform->startTimer(delay, [this, callback = std::move(callback)] {
            m_id = 0;
            callback();
        });
    }
    void stop()
    {
        if (m_id)
            m_platform->cancelTimer(m_id);
        m_id = 0;
    }
    bool active() const { return m_id != 0; }
    EnginePlatform::TimePoint due() const { return m_due; }

private:
    EnginePlatform* m_platform;
    EnginePlatform::TimerId m_id = 0;
    EnginePlatform::TimePoint m_due{};
};

} // namespace quendle
