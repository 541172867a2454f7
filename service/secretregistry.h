#pragma once

#include <QString>

namespace quendle {

// Every secret this process has read (passwords now; keys and tokens of other services as they
// come), so that a front end can take them out of any line before it shows or logs it, wherever
// the line came from: a server that repeats the password in its reply, or a message that quotes
// a setting. Safe to use from any thread. Secrets are kept in memory until the process ends.
void registerSecret(const QString& secret);

// `text` with every registered secret replaced by "***", the longest first so that a secret
// that holds another is taken out whole.
QString redactSecrets(const QString& text);

} // namespace quendle
