#pragma once

#include "service/publishersettings.h"

#include "base/expected.h"

namespace quendle {

// Writes the window's online page for `address` to the page file, whole and atomically, making
// its folder first when needed. Returns why it could not be written.
Expected<void> writeOnlinePage(const PublisherSettings& settings, const QString& address);

// The same for the window's offline page.
Expected<void> writeOfflinePage(const PublisherSettings& settings);

} // namespace quendle
