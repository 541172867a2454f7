#pragma once

#include "ui/feedback.h"

#include <functional>
#include <optional>

namespace quendle {

// Runs `work` on a thread of its own while the GUI thread waits for it in an event loop, so that
// windows keep repainting and timers keep ticking; mouse, keyboard and close requests made
// meanwhile are dropped, so no second operation can start. Without an application object, or
// off the GUI thread, the work simply runs here.
void runWhileWindowsWait(const std::function<void()>& work);

// The same under the wait cursor, which is back before the result is returned.
template <class Work> auto waitForWork(Feedback& feedback, Work work) -> decltype(work())
{
    std::optional<decltype(work())> result;
    feedback.busy(true);
    runWhileWindowsWait([&] { result.emplace(work()); });
    feedback.busy(false);
    return std::move(*result);
}

} // namespace quendle
