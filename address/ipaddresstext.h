#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quendle {

enum class AddressFamily { Ipv4, Ipv6 };

// "IPv4" or "IPv6", for messages.
QString familyName(AddressFamily family);

// The address in `text` in its canonical form ("2001:db8::1", never "2001:DB8:0::1"), when the text
// is exactly one address of `family`. IPv6 forms of IPv4 addresses (::ffff:a.b.c.d) and zone
// suffixes (%eth0) are not addresses a visitor could use and are refused.
std::optional<QString> canonicalAddress(const QString& text, AddressFamily family);

struct ParsedAnswer
{
    QString address; // canonical; empty on failure
    QString error;   // why the answer is not an address
};

// Reads the body of a web echo: one address of `family`, blanks and line breaks around it allowed.
ParsedAnswer addressFromBody(const QByteArray& body, AddressFamily family);

// The text of a link to `address`: IPv6 addresses go in brackets as a URL needs them.
QString linkHost(const QString& address, AddressFamily family);

} // namespace quendle
