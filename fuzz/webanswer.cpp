// The body of a web echo's answer, read as one address. For any body and either family:
// - the reader answers with an address or with a reason, never both;
// - an address is accepted exactly when the body, blanks and line breaks around it aside, is one
//   address of the family in the C library's strict form (no IPv4-mapped IPv6 address);
// - the address it gives is that address, in the canonical form, in characters safe in a link;
// - a reason is one line of printable ASCII, however long or binary the body.

#include "address/ipaddresstext.h"
#include "fuzz/fuzzcheck.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

using namespace quendle;
using quendle::fuzz::check;

namespace {

bool isBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

QByteArray withoutBlanksAround(const QByteArray& body)
{
    qsizetype begin = 0;
    qsizetype end = body.size();
    while (begin < end && isBlank(body[begin]))
        ++begin;
    while (end > begin && isBlank(body[end - 1]))
        --end;
    return body.mid(begin, end - begin);
}

// The binary address the text is in inet_pton()'s strict form, or nothing.
std::optional<QByteArray> binaryAddress(const QByteArray& text, AddressFamily family)
{
    const int af = family == AddressFamily::Ipv4 ? AF_INET : AF_INET6;
    in6_addr address{}; // large enough for either
    if (text.contains('\0') || inet_pton(af, text.constData(), &address) != 1)
        return std::nullopt;
    if (family == AddressFamily::Ipv6 && IN6_IS_ADDR_V4MAPPED(&address))
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(&address),
                      family == AddressFamily::Ipv4 ? 4 : 16);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A first byte "6" asks for an IPv6 address, any other for IPv4; the rest is the body.
    if (size == 0)
        return 0;
    const AddressFamily family = data[0] == '6' ? AddressFamily::Ipv6 : AddressFamily::Ipv4;
    const QByteArray body(reinterpret_cast<const char*>(data) + 1,
                          static_cast<qsizetype>(size - 1));
    const auto parsed = addressFromBody(body, family);
    const QString address = parsed.value_or({});
    const QString& error = parsed.error();

    check(address.isEmpty() != error.isEmpty(), "an address or a reason", body);
    const std::optional<QByteArray> expected = binaryAddress(withoutBlanksAround(body), family);
    check(expected.has_value() == !address.isEmpty(),
          "accepted exactly when the body is one address of the family", body);
    if (expected) {
        const QByteArray given = address.toLatin1();
        check(binaryAddress(given, family) == expected, "the address the body held", body);
        check(canonicalAddress(address, family).value_or({}) == address,
              "the address in its canonical form", body);
        check(std::all_of(given.begin(), given.end(),
                          [](char c) {
                              return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' ||
                                     c == '.';
                          }) &&
                  given.toLower() == given,
              "only lower-case hex digits, colons and dots", body);
    } else {
        check(std::all_of(error.begin(), error.end(),
                          [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; }),
              "the reason is printable ASCII", body);
        check(error.size() < 200, "the reason is short", body);
    }
    return 0;
}
