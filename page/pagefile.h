#pragma once

#include "base/expected.h"

#include <QByteArray>
#include <QString>

namespace quendle {

// Full path of the page file in `directory`, with the platform's separators.
QString pageFilePath(const QString& directory);

// Replaces the file whole and atomically, by renaming a new file over it (a link in its place is
// replaced, never written through; see base/safefile.h): on failure the old file stays as it was
// and no temporary file is left. On failure the reason is a message naming the file.
Expected<void> replaceFile(const QString& path, const QByteArray& bytes);

// Reads the whole file, or says why it cannot be read (suggesting Save when it is missing).
Expected<QByteArray> readPageFile(const QString& path);

} // namespace quendle
