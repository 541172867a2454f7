#pragma once

#include "address/router/routeroptions.h"
#include "address/sourceanswer.h"
#include "base/expected.h"

#include <atomic>

namespace quendle::router {

// Asks the router for its outside (public) IPv4 address over each protocol of `options` in turn,
// until one answers with an address visitors can reach. An empty or special-use answer is no
// answer: the reason says what it means for visitors. `steps` tells what each protocol said.
SourceAnswer routerAddress(const RouterOptions& options, const std::atomic<bool>* cancel = nullptr);

// `answer`, the router's outside address, when visitors can reach it; else why they cannot.
Expected<QString> reachableAddress(const QString& answer);

} // namespace quendle::router
