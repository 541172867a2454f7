#pragma once

#include "service/publishersettings.h"

#include <optional>

namespace quendle {

// Writes the window's online page for `address` to the page file, whole and atomically, making
// its folder first when needed. Returns why it could not be written.
std::optional<QString> writeOnlinePage(const PublisherSettings& settings, const QString& address);

// The same for the window's offline page.
std::optional<QString> writeOfflinePage(const PublisherSettings& settings);

} // namespace quendle
