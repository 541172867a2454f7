#pragma once

#include <QString>

#include <chrono>
#include <optional>

// Tells systemd how the service is doing (sd_notify). Outside a Type=notify unit, where
// NOTIFY_SOCKET is not set, each call does nothing and returns false.
namespace quendle::cli::systemd {

bool ready();                     // READY=1: the first round of publishing is done
bool status(const QString& text); // STATUS=text, shown by systemctl status
bool reloading();                 // RELOADING=1 with the time, before reading the file again
bool stopping();                  // STOPPING=1
bool watchdog();                  // WATCHDOG=1: the loop is alive

// How often the watchdog must be fed: half the unit's WatchdogSec=, as systemd advises; nullopt
// when no watchdog is asked for this process.
std::optional<std::chrono::microseconds> watchdogInterval();

} // namespace quendle::cli::systemd
