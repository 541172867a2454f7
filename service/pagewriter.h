#pragma once

#include "service/publishersettings.h"

#include "base/expected.h"

namespace quendle {

// The online page for the addresses found for each family (either may be empty, not both): with
// one, the window's page for it, byte for byte; with both, a link to each.
Expected<void> writeOnlinePage(const PublisherSettings& settings, const QString& ipv4,
                               const QString& ipv6);

// The same for the window's offline page.
Expected<void> writeOfflinePage(const PublisherSettings& settings);

} // namespace quendle
