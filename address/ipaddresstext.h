#pragma once

#include "base/expected.h"

#include <QByteArray>
#include <QString>

namespace quendle {

enum class AddressFamily { Ipv4, Ipv6 };

// "IPv4" or "IPv6", for messages.
QString familyName(AddressFamily family);

// "IPv4 " or "IPv6 " before the lines of a family when `families` (in the round the lines are
// about) is more than one; with one family, nothing.
QString familyPrefix(AddressFamily family, qsizetype families);

// "A" or "AAAA": the type of the DNS record that holds an address of `family`.
QString recordTypeName(AddressFamily family);

// The address in `text` in its canonical form ("2001:db8::1", never "2001:DB8:0::1"), when the text
// is exactly one address of `family`. IPv6 forms of IPv4 addresses (::ffff:a.b.c.d) and zone
// suffixes (%eth0) are not addresses a visitor could use and are refused.
Expected<QString> canonicalAddress(const QString& text, AddressFamily family);

// Reads the body of a web echo: one address of `family` in canonical form, blanks and line breaks
// around it allowed.
Expected<QString> addressFromBody(const QByteArray& body, AddressFamily family);

// The text of a link to `address`: IPv6 addresses go in brackets as a URL needs them.
QString linkHost(const QString& address, AddressFamily family);

} // namespace quendle
