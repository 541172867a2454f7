#include "service/retryschedule.h"

#include <algorithm>

namespace quendle {

using std::chrono::milliseconds;

milliseconds refreshInterval(double refreshMinutes)
{
    return milliseconds(static_cast<long long>(refreshMinutes * 60'000));
}

milliseconds retryDelay(int failures, double refreshMinutes)
{
    constexpr milliseconds kFirst(30'000);
    constexpr milliseconds kLongest(600'000);
    const milliseconds refresh = refreshInterval(refreshMinutes);
    const milliseconds cap = refresh.count() > 0 ? std::min(refresh, kLongest) : kLongest;
    // Past five doublings the cap has been reached whatever it is.
    const int doublings = std::clamp(failures - 1, 0, 5);
    return std::min(kFirst * (1 << doublings), cap);
}

} // namespace quendle
