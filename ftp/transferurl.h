#pragma once

#include <QString>

#include <optional>

namespace quendle {

enum class TransferScheme {
    Ftp,         // no scheme or ftp://
    ExplicitTls, // ftpes://: AUTH TLS on the FTP port
    ImplicitTls, // ftps://: TLS from the first byte, port 990
    Sftp,        // sftp://: SSH file transfer
};

// The server the host text names.
struct ServerAddress
{
    TransferScheme scheme = TransferScheme::Ftp;
    QString host; // a name, a dotted IPv4 address or an IPv6 literal in brackets
    int port = 21;

    QString authority() const { return host + QLatin1Char(':') + QString::number(port); }
    // The host as certificates and known_hosts name it: IPv6 literals without brackets.
    QString bareHost() const;
};

struct ServerAddressResult
{
    std::optional<ServerAddress> address;
    bool unknownScheme = false; // the text names a scheme this component does not speak
    QString problem;            // why the text was refused, for the details
};

// Reads "[scheme://]host[:port]" (an optional "/" may end it). Only what a person would mean is
// accepted, so that nothing typed can reach another host, port, user or directory: a numeric
// IPv4 address is four decimal numbers 0-255 without leading zeros, a port is 1-65535 in ASCII
// digits.
ServerAddressResult parseServerAddress(const QString& text);

// A port as parseServerAddress reads one: 1-65535 in ASCII digits and nothing else (no sign, no
// blank, no NUL).
std::optional<int> strictPort(const QString& text);

// The schemes parseServerAddress accepts, for messages.
QString acceptedSchemes();

// The path part of an ftp:// address for `file` in `directory` below the server's root ("/x") or
// the login directory ("x", or "" for the login directory itself), every name percent-encoded.
// "." and ".." stay as typed, to be sent to the server as they are.
QString ftpPath(const QString& directory, const QString& file);

// The whole path of an sftp:// address for the same, beginning with "/": paths there are absolute
// and reach the login directory through "/~/".
QString sftpPath(const QString& directory, const QString& file);

// `file` in `directory` as SFTP commands name it: the path as it is, relative paths from the login
// directory, in double quotes with `"` and `\` escaped by a backslash.
QString sftpCommandPath(const QString& directory, const QString& file);

// The addresses libcurl is given: the server's login directory, which a login asks for, and
// `file` in `directory` for an upload. The port is always written; ftpes:// is ftp:// to libcurl,
// which is told separately to demand TLS.
QString loginUrl(const ServerAddress& server);
QString uploadUrl(const ServerAddress& server, const QString& directory, const QString& file);

} // namespace quendle
