#pragma once

#include "service/publisherstate.h"

namespace quendle {

// How many of the state's targets of each kind are current.
StandingCounts countsOf(const PublisherState& state);

// The one line that tells how publishing stands, as systemd shows it under the unit and the log
// says it: "203.0.113.7: 2 of 2 pages, 1 of 1 names current".
QString roundSummary(const PublisherState& state);

// What `status` prints: whether watch runs, each address, each target, each port mapping; one
// line each, times in UTC.
QString statusText(const PublisherState& state, bool running);

// What `status --json` prints: the state file's content and whether its writer still runs.
QByteArray statusJson(const PublisherState& state, bool running);

// What `status --history` prints: each address change, newest first, one line each.
QString historyText(const PublisherState& state);

// What `status --history --json` prints: {"history": [...]}, newest first, as the state file
// keeps it.
QByteArray historyJson(const PublisherState& state);

} // namespace quendle
