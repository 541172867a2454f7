#include "cli/qtplatform.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace quendle;
using namespace std::chrono_literals;

namespace {

// Lanes run side by side: three jobs that each wait for the other two all get a thread, also
// when a thread of the pool is already idle (a target's page must not wait for a hanging server).
TEST(QtEnginePlatformTest, LanesPostedTogetherRunSideBySide)
{
    cli::QtEnginePlatform platform;
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    bool first = false;
    platform.run("first", [&] {
        const std::lock_guard lock(mutex);
        first = true;
        changed.notify_all();
        return [] {};
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return first; }));
    }
    ASSERT_TRUE(platform.waitForWork(5s)) << "the first thread is idle again";
    bool together = true;
    for (const char* lane : {"a", "b", "c"})
        platform.run(lane, [&] {
            std::unique_lock lock(mutex);
            ++started;
            changed.notify_all();
            if (!changed.wait_for(lock, 5s, [&] { return started == 3; }))
                together = false;
            return [] {};
        });
    ASSERT_TRUE(platform.waitForWork(20s));
    EXPECT_TRUE(together) << "a lane waited for another to end";
}

} // namespace
