#pragma once

#include <chrono>

namespace quendle {

// How long to wait before trying a target again after `failures` failed uploads in a row: 30 s,
// doubling, never more than the refresh interval or 10 minutes.
std::chrono::milliseconds retryDelay(int failures, double refreshMinutes);

// The time between two uploads of an unchanged page; zero when the page goes up only on change.
std::chrono::milliseconds refreshInterval(double refreshMinutes);

} // namespace quendle
