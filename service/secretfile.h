#pragma once

#include "base/expected.h"

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

// Reads a secret kept in a file of its own: one line, its line break not part of it. `holds`
// names it in the refusals: "a password", "a key's secret", "a token".
SecretRead readSecretFile(const QString& path, SecretCheck check,
                          const QString& holds = QStringLiteral("a password"));

// Reads the systemd credential called `name` (LoadCredential=) from $CREDENTIALS_DIRECTORY, and
// keeps it out of every line the program shows.
Expected<QString> readCredential(const QString& name,
                                 const QString& holds = QStringLiteral("a password"));

} // namespace quendle
