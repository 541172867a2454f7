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

// Asks a web echo for the address: fetches `url` (http or https, certificates verified against
// the programs' one trust store, over the given family so that the echo sees the address of that
// family) and reads its body as one address. Follows at most 3 redirects, to http or https only;
// the answer's origin then names the last address too. An IPv4 answer that visitors cannot reach
// (a special-use range) is refused with the reason. Returns early, with an error, once `cancel`
// is set.
SourceAnswer webAddress(const QString& url, AddressFamily family,
                        const std::atomic<bool>* cancel = nullptr, WebSourceBounds bounds = {});

} // namespace quendle
