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

// Reads a secret (a password, key or token) kept in a file of its own: one line, its line break
// not part of it. Whatever it reads is registered (service/secretregistry.h), the one line it
// returns and, when it refuses the content, each line of it: see secretfile.cpp for why. `holds`
// names it in the refusals: "a password", "a key's secret", "a token".
SecretRead readSecretFile(const QString& path, SecretCheck check,
                          const QString& holds = QStringLiteral("a password"));

// The secret in the file that a setting names (password_file =, key_file =, token_file =): the
// value must be an absolute path; the file is read and registered as readSecretFile does, and
// must be the owner's alone.
Expected<QString> readSecretSetting(const QString& value,
                                    const QString& holds = QStringLiteral("a password"));

// A secret written in the configuration file itself (password =): registered, then refused when
// `config` can be read or changed by group or others, or when it is empty.
Expected<QString> acceptInlineSecret(const QString& value, const QString& config,
                                     bool configOpenToOthers);

// Reads the systemd credential called `name` (LoadCredential=) from $CREDENTIALS_DIRECTORY, and
// keeps it out of every line the program shows.
Expected<QString> readCredential(const QString& name,
                                 const QString& holds = QStringLiteral("a password"));

} // namespace quendle
