#include "address/publicaddress.h"

#include "address/ipaddresstext.h"

#include <arpa/inet.h>

#include <cstdint>

namespace quendle {

namespace {

struct Row
{
    uint32_t network;
    int prefixLength;
    SpecialUseRange range;
};

constexpr uint32_t ipv4(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

using namespace Qt::Literals::StringLiterals;

// IANA's IPv4 special-purpose address registry, less the few ranges that are globally reachable
// (anycast relays and the like are not where a router's own address comes from).
const Row kSpecialUse[] = {
    {ipv4(0, 0, 0, 0), 8, {"0.0.0.0/8"_L1, "\"this network\""_L1, false}},
    {ipv4(10, 0, 0, 0), 8, {"10.0.0.0/8"_L1, "private"_L1, true}},
    {ipv4(100, 64, 0, 0), 10, {"100.64.0.0/10"_L1, "carrier-grade NAT"_L1, true}},
    {ipv4(127, 0, 0, 0), 8, {"127.0.0.0/8"_L1, "loopback"_L1, false}},
    {ipv4(169, 254, 0, 0), 16, {"169.254.0.0/16"_L1, "link-local"_L1, false}},
    {ipv4(172, 16, 0, 0), 12, {"172.16.0.0/12"_L1, "private"_L1, true}},
    {ipv4(192, 0, 0, 0), 24, {"192.0.0.0/24"_L1, "protocol assignments"_L1, false}},
    {ipv4(192, 0, 2, 0), 24, {"192.0.2.0/24"_L1, "documentation"_L1, false}},
    {ipv4(192, 88, 99, 0), 24, {"192.88.99.0/24"_L1, "6to4 relay"_L1, false}},
    {ipv4(192, 168, 0, 0), 16, {"192.168.0.0/16"_L1, "private"_L1, true}},
    {ipv4(198, 18, 0, 0), 15, {"198.18.0.0/15"_L1, "benchmarking"_L1, false}},
    {ipv4(198, 51, 100, 0), 24, {"198.51.100.0/24"_L1, "documentation"_L1, false}},
    {ipv4(203, 0, 113, 0), 24, {"203.0.113.0/24"_L1, "documentation"_L1, false}},
    {ipv4(224, 0, 0, 0), 4, {"224.0.0.0/4"_L1, "multicast"_L1, false}},
    {ipv4(240, 0, 0, 0), 4, {"240.0.0.0/4"_L1, "reserved"_L1, false}},
};

struct Wording
{
    const char* notAnAddress;   // %1 the answer
    const char* notPublic;      // %1 the address, %2 its range
    const char* behindOtherNat; // the same for a range that providers hand out inside their network
};

const Wording kRouterWording = {
    "the router's answer \"%1\" is not an IPv4 address",
    "the router's outside address %1 is not public (%2): visitors cannot reach it",
    "the router's own outside address %1 is not public (%2): this line is behind another NAT, so "
    "visitors cannot reach it",
};

const Wording kWebEchoWording = {
    "the web echo's answer \"%1\" is not an IPv4 address",
    "the web echo's answer %1 is not public (%2): visitors cannot reach it",
    "the web echo's answer %1 is not public (%2): the echo sees this machine from inside a "
    "private network, so visitors cannot reach it",
};

} // namespace

std::optional<SpecialUseRange> specialUseRange(const QString& text)
{
    in_addr parsed{};
    if (inet_pton(AF_INET, text.toLatin1().constData(), &parsed) != 1)
        return kSpecialUse[0].range;
    const uint32_t address = ntohl(parsed.s_addr);
    for (const Row& row : kSpecialUse) {
        const uint32_t mask = ~uint32_t{0} << (32 - row.prefixLength);
        if ((address & mask) == row.network)
            return row.range;
    }
    return std::nullopt;
}

Expected<QString> publicIpv4(const QString& answer, AddressTeller teller)
{
    const Wording& wording = teller == AddressTeller::Router ? kRouterWording : kWebEchoWording;
    const auto address = canonicalAddress(answer, AddressFamily::Ipv4);
    if (!address)
        return Unexpected(QString::fromLatin1(wording.notAnAddress).arg(answer));
    const auto range = specialUseRange(*address);
    if (!range)
        return address;
    const QString kind = QStringLiteral("%1, %2").arg(range->purpose, range->cidr);
    return Unexpected(
        QString::fromLatin1(range->behindNat ? wording.behindOtherNat : wording.notPublic)
            .arg(*address, kind));
}

} // namespace quendle
