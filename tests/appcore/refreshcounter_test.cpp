#include "appcore/refreshcounter.h"

#include <gtest/gtest.h>

#include <vector>

using namespace quendle;

namespace {

// The ticks (1-based, since the last restart) on which a refresh ran, over `ticks` ticks.
std::vector<int> refreshTicks(const QString& interval, int ticks)
{
    RefreshCounter counter;
    counter.setInterval(interval);
    counter.restart();
    std::vector<int> due;
    for (int tick = 1; tick <= ticks; ++tick)
        if (counter.tick(false)) {
            due.push_back(tick);
            counter.restart();
        }
    return due;
}

TEST(RefreshCounter, FallsDueEveryIntervalInSeconds)
{
    EXPECT_EQ(refreshTicks("2", 250), (std::vector<int>{120, 240}));
    EXPECT_EQ(refreshTicks("2.5", 320), (std::vector<int>{150, 300}));
    EXPECT_EQ(refreshTicks("1 5", 1000), (std::vector<int>{900}));
}

TEST(RefreshCounter, NeverFallsDueWithoutAPositiveWholeLimit)
{
    for (const char* interval : {"", "0", "abc", "-3", "0.01", "1e308", "1e309", "0.001"})
        EXPECT_TRUE(refreshTicks(QString::fromLatin1(interval), 5000).empty())
            << "interval \"" << interval << "\"";
}

TEST(RefreshCounter, OverflowingLimitIsZero)
{
    RefreshCounter counter;
    counter.setInterval("1e308");
    EXPECT_EQ(counter.limit(), 0);
    counter.setInterval("1e400");
    EXPECT_EQ(counter.limit(), 0);
    counter.setInterval("2");
    EXPECT_EQ(counter.limit(), 120);
}

TEST(RefreshCounter, SettingTheIntervalKeepsTheCountAndRestartClearsIt)
{
    RefreshCounter counter;
    counter.setInterval("2");
    for (int i = 0; i < 50; ++i)
        counter.tick(false);
    counter.setInterval("1");
    EXPECT_EQ(counter.count(), 50);
    counter.restart();
    EXPECT_EQ(counter.count(), 0);
}

TEST(RefreshCounter, ARefreshDueWhileBusyRunsOnTheFirstTickAfter)
{
    RefreshCounter counter;
    counter.setInterval("1");
    for (int i = 0; i < 59; ++i)
        ASSERT_FALSE(counter.tick(false));
    EXPECT_FALSE(counter.tick(true)); // the 60th tick comes while a message is open
    EXPECT_FALSE(counter.tick(true));
    EXPECT_TRUE(counter.tick(false));
    EXPECT_EQ(counter.count(), 62);
    EXPECT_FALSE(counter.tick(false)) << "runs once, not on every later tick";
}

TEST(RefreshCounter, AnIntervalChangeDropsARefreshThatWasWaiting)
{
    RefreshCounter counter;
    counter.setInterval("1");
    for (int i = 0; i < 60; ++i)
        counter.tick(true);
    counter.setInterval("1");
    counter.restart();
    EXPECT_FALSE(counter.tick(false));
}

} // namespace
