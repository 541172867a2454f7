#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace quendle::cli {

// A thread of its own that runs the jobs given to it one after another. A job that blocks (a
// server that does not answer) holds up only the jobs behind it on the same worker. Waiting for
// work costs no wake-ups.
class SerialWorker
{
public:
    SerialWorker();
    // Runs the jobs still queued, then ends the thread.
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    void post(std::function<void()> job);
    // A job runs or waits.
    bool busy();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_ending = false;
    bool m_running = false;
    std::thread m_thread; // last: starts once the members above exist
};

} // namespace quendle::cli
