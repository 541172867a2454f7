#pragma once

#include <QString>

#include <optional>

namespace quendle {

// The "host" or "host:port" text of the component as the authority of an ftp:// address
// ("[v6]:port" for IPv6 literals). Returns nothing for a text that is not a plain host name,
// address or port, so that nothing typed can reach other parts of the address.
std::optional<QString> ftpAuthority(const QString& host);

// The address of `file` in `directory` below the server's root ("/x") or the login directory
// ("x", or "" for the login directory itself), every name percent-encoded.
QString ftpPath(const QString& directory, const QString& file);

} // namespace quendle
