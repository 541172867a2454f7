#pragma once

#include "service/publishersettings.h"

#include "base/expected.h"

namespace quendle {

// Writes the window's online page for `address` (of the first configured family) to the page file,
// whole and atomically, making its folder first when needed.
Expected<void> writeOnlinePage(const PublisherSettings& settings, const QString& address);

// The online page for the addresses found for each family (either may be empty, not both): with
// one, the window's page for it, byte for byte; with both, a link to each.
Expected<void> writeOnlinePage(const PublisherSettings& settings, const QString& ipv4,
                               const QString& ipv6);

// The same for the window's offline page.
Expected<void> writeOfflinePage(const PublisherSettings& settings);

} // namespace quendle
