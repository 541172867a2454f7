#pragma once

#include <QString>

namespace quendle {

enum class SecretCheck {
    OwnerOnly, // refuse a file that group or others may read or change, as ssh does with keys
    AnyMode,
};

struct SecretRead
{
    QString secret;
    QString error; // names the file, never its content
};

// Reads a password kept in a file of its own: one line, its line break not part of it.
SecretRead readSecretFile(const QString& path, SecretCheck check);

} // namespace quendle
