#pragma once

#include "base/expected.h"

#include <QByteArray>
#include <QString>

namespace quendle {

// Replaces the file at `path` with `bytes` in one step: a new file with a random name is made in
// the same folder (O_CREAT | O_EXCL | O_NOFOLLOW, so never through a link someone put there),
// written whole, synced and renamed over `path`. A link at `path` is itself replaced, its target
// left untouched. The new file keeps the permissions of the regular file it replaces, or gets
// 666 less the umask. On failure the old file stays as it was, no temporary file is left, and
// the reason (the system's words) is returned.
Expected<void> replaceFileByRename(const QString& path, const QByteArray& bytes);

// Makes `folder`, and each missing folder above it, with mode 700; or checks the one that is
// there. Refused, with the reason naming the folder, when it is not a folder or when a user other
// than this process's effective user (or root) owns it: that user could put links or files of
// their own in it at any time.
Expected<void> makeOwnFolder(const QString& folder);

} // namespace quendle
