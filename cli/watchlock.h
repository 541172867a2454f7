#pragma once

#include "base/expected.h"

#include <QString>

namespace quendle::cli {

// The lock that keeps one watch at a time on a state file: flock() on watch.lock in the state
// file's folder, held until the process ends, the holder's pid written into it. Takes it, making
// the folder as the state file's is made; refused when another process holds it (the reason
// names that pid) or the file cannot be used. The descriptor is closed on exec, so that no hook
// inherits the lock.
Expected<void> takeWatchLock(const QString& statePath);

// Where the lock of `statePath` lives.
QString watchLockPath(const QString& statePath);

} // namespace quendle::cli
