#pragma once

#include "address/ipaddresstext.h"
#include "address/sourceanswer.h"

#include <atomic>

namespace quendle {

struct WebSourceBounds
{
    long connectSeconds = 10;
    long totalSeconds = 20;
};

// Asks a web echo for the address: fetches `url` (http or https, certificates verified, over the
// given family so that the echo sees the address of that family) and reads its body as one
// address. Returns early, with an error, once `cancel` is set.
SourceAnswer webAddress(const QString& url, AddressFamily family,
                        const std::atomic<bool>* cancel = nullptr, WebSourceBounds bounds = {});

} // namespace quendle
