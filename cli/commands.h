#pragma once

#include "service/publishersettings.h"

namespace quendle::cli {

// The commands that run once; each returns the exit status.
int publishOnce(const PublisherSettings& settings);
int publishOffline(const PublisherSettings& settings);
int showAddresses(const PublisherSettings& settings);

} // namespace quendle::cli
