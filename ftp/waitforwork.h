#pragma once

#include <functional>

namespace quendle {

// Runs `work` on a thread of its own while the GUI thread waits for it in an event loop, so that
// windows keep repainting and timers keep ticking; mouse, keyboard and close requests made
// meanwhile are dropped, so no second operation can start. Without an application object, or
// off the GUI thread, the work simply runs here.
int waitForWork(const std::function<int()>& work);

class Feedback;

// The same, under the wait cursor, which is back before the result is returned.
int waitForWork(Feedback& feedback, const std::function<int()>& work);

} // namespace quendle
