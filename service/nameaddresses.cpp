#include "service/nameaddresses.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>

namespace quendle {

namespace {

constexpr int kShortestPrefix = 48;
constexpr int kLongestPrefix = 64;

using Bytes = std::array<unsigned char, 16>;

std::optional<Bytes> ipv6Bytes(const QString& text)
{
    const auto canonical = canonicalAddress(text, AddressFamily::Ipv6);
    if (!canonical)
        return std::nullopt;
    Bytes bytes{};
    if (inet_pton(AF_INET6, canonical->toLatin1().constData(), bytes.data()) != 1)
        return std::nullopt;
    return bytes;
}

QString ipv6Text(const Bytes& bytes)
{
    char shown[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, bytes.data(), shown, sizeof shown);
    return QString::fromLatin1(shown);
}

bool bitSet(const Bytes& bytes, int bit)
{
    return (bytes[bit / 8] >> (7 - bit % 8)) & 1;
}

// `bytes` with every bit from `bit` on taken from `low`.
Bytes joined(const Bytes& high, const Bytes& low, int bit)
{
    Bytes result{};
    for (int i = 0; i < 128; ++i)
        if (bitSet(i < bit ? high : low, i))
            result[i / 8] |= static_cast<unsigned char>(1 << (7 - i % 8));
    return result;
}

QString recordType(AddressFamily family)
{
    return family == AddressFamily::Ipv4 ? QStringLiteral("A") : QStringLiteral("AAAA");
}

} // namespace

std::optional<QString> identifierProblem(const QString& identifier, int prefixLength)
{
    if (prefixLength < kShortestPrefix || prefixLength > kLongestPrefix)
        return QStringLiteral("the prefix length must be %1 to %2 bits, not %3")
            .arg(kShortestPrefix)
            .arg(kLongestPrefix)
            .arg(prefixLength);
    const auto bytes = ipv6Bytes(identifier);
    if (!bytes)
        return QStringLiteral("%1 is not an IPv6 interface identifier such as "
                              "::211:32ff:fe12:3456")
            .arg(identifier);
    bool any = false;
    for (int bit = 0; bit < 128; ++bit) {
        if (bitSet(*bytes, bit) && bit < prefixLength)
            return QStringLiteral("%1 has bits set inside the %2-bit prefix: give the host's "
                                  "interface identifier alone, its low %3 bits, such as "
                                  "::211:32ff:fe12:3456")
                .arg(identifier)
                .arg(prefixLength)
                .arg(128 - prefixLength);
        any = any || bitSet(*bytes, bit);
    }
    if (!any)
        return QStringLiteral("the interface identifier :: names no host");
    return std::nullopt;
}

Expected<NameAddress> hostAddress(const QString& address, const QString& identifier,
                                  int prefixLength)
{
    if (const auto problem = identifierProblem(identifier, prefixLength))
        return Unexpected(*problem);
    const auto published = ipv6Bytes(address);
    if (!published)
        return Unexpected(QStringLiteral("%1 is not an IPv6 address").arg(address));
    const Bytes host = joined(*published, *ipv6Bytes(identifier), prefixLength);
    const QString prefix = QStringLiteral("%1/%2")
                               .arg(ipv6Text(joined(*published, Bytes{}, prefixLength)))
                               .arg(prefixLength);
    return NameAddress{AddressFamily::Ipv6, ipv6Text(host), prefix};
}

NameAddresses nameAddresses(const DnsTargetSettings& settings, const AddressRound& published)
{
    const bool lanHost = !settings.ipv6Host.isEmpty();
    QList<AddressFamily> asked = settings.families;
    if (lanHost)
        asked = {AddressFamily::Ipv6};
    NameAddresses chosen;
    for (const AddressFamily family : asked) {
        bool inRound = false;
        for (const FamilyAddress& found : published.families)
            inRound = inRound || found.family == family;
        if (!inRound)
            chosen.notes << QStringLiteral("%1 is asked for but not published ([address] family): "
                                           "the %2 record of %3 is left as it is")
                                .arg(familyName(family), recordType(family), settings.dnsName);
    }
    for (const FamilyAddress& found : published.families) {
        if (found.address.isEmpty() || (!asked.isEmpty() && !asked.contains(found.family)))
            continue; // the record is left alone
        if (!lanHost) {
            chosen.records << NameAddress{found.family, found.address, {}};
            continue;
        }
        const auto host = hostAddress(found.address, settings.ipv6Host, settings.prefixLength);
        if (host)
            chosen.records << *host;
        else
            chosen.notes << host.error();
    }
    return chosen;
}

} // namespace quendle
