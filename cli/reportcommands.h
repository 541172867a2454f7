#pragma once

#include "service/publishersettings.h"

namespace quendle::cli {

// `status`: what watch is doing, read from the state file at `statePath`. Needs no configuration
// file. 0 when every target is current, 1 when one is not (or the file cannot be read), 3 when
// there is no state file.
int showStatus(const QString& statePath, bool json);

// `status --history`: the address changes watch recorded, newest first. 0 when the state file
// was read, 1 when it (or its history) cannot be, 3 when there is none.
int showHistory(const QString& statePath, bool json);

// `notify-test`: sends one message to [notify] and prints what the server answered.
int sendTestNotification(const PublisherSettings& settings);

} // namespace quendle::cli
