#pragma once

#include <QByteArray>
#include <QString>

namespace quendle::testing {

// The whole file, or nothing when it cannot be read.
QByteArray readWholeFile(const QString& path);
// Writes `bytes` beside `path` and renames it over `path`, so that a server reading the file
// while the test writes it sees the old bytes or the new, never a part.
void replaceWholeFile(const QString& path, const QByteArray& bytes);

} // namespace quendle::testing
