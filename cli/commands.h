#pragma once

#include "service/publishersettings.h"

namespace quendle::cli {

// The commands; each returns the exit status. `once`, `offline` and `watch` run the engine on an
// event loop of their own.
int publishOnce(const PublisherSettings& settings);
int publishOffline(const PublisherSettings& settings);
int watch(const PublisherSettings& settings);
int showAddresses(const PublisherSettings& settings);

} // namespace quendle::cli
