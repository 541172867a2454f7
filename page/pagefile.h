#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <variant>

namespace quendle {

// Full path of the page file in `directory`, with the platform's separators.
QString pageFilePath(const QString& directory);

// Replaces the file whole and atomically: on failure the old file stays as it was and no
// temporary file is left. Returns a message naming the file and the reason on failure.
std::optional<QString> replaceFile(const QString& path, const QByteArray& bytes);

struct ReadFailure
{
    QString message;
};

// Reads the whole file, or says why it cannot be read (suggesting Save when it is missing).
std::variant<QByteArray, ReadFailure> readPageFile(const QString& path);

} // namespace quendle
