#include "service/nameaddresses.h"

#include <gtest/gtest.h>

using namespace quendle;

namespace {

FamilyAddress found(AddressFamily family, const QString& address)
{
    FamilyAddress result;
    result.family = family;
    result.address = address;
    return result;
}

AddressRound round(const QString& ipv4, const QString& ipv6)
{
    AddressRound result;
    if (!ipv4.isNull())
        result.families << found(AddressFamily::Ipv4, ipv4);
    if (!ipv6.isNull())
        result.families << found(AddressFamily::Ipv6, ipv6);
    return result;
}

DnsTargetSettings name(QList<AddressFamily> families = {}, const QString& ipv6Host = {},
                       int prefixLength = 64)
{
    DnsTargetSettings settings;
    settings.dnsName = "nas.example.test";
    settings.families = families;
    settings.ipv6Host = ipv6Host;
    settings.prefixLength = prefixLength;
    return settings;
}

TEST(HostAddress, TheIdentifierFollowsThePrefixOfEachLength)
{
    const struct
    {
        QString published;
        QString identifier;
        int length;
        NameAddress expected;
    } rows[] = {
        {"2001:db8:1:2::40",
         "::211:32ff:fe12:3456",
         64,
         {AddressFamily::Ipv6, "2001:db8:1:2:211:32ff:fe12:3456", "2001:db8:1:2::/64"}},
        // A /56: the low byte of the fourth group is the host's.
        {"2001:db8:1:2a3::40",
         "::5f:0:0:0:7",
         56,
         {AddressFamily::Ipv6, "2001:db8:1:25f::7", "2001:db8:1:200::/56"}},
        {"2001:db8:1:2a3::40",
         "::f:0:0:0:1",
         60,
         {AddressFamily::Ipv6, "2001:db8:1:2af::1", "2001:db8:1:2a0::/60"}},
        {"2001:db8:1:2a3:1:2:3:4",
         "::abcd:0:0:0:1",
         48,
         {AddressFamily::Ipv6, "2001:db8:1:abcd::1", "2001:db8:1::/48"}},
    };
    for (const auto& row : rows) {
        const auto host = hostAddress(row.published, row.identifier, row.length);
        ASSERT_TRUE(host) << host.error().toStdString();
        EXPECT_EQ(*host, row.expected) << host->address.toStdString();
    }
}

TEST(HostAddress, AnIdentifierWithBitsInsideThePrefixOrABadLengthIsRefused)
{
    EXPECT_EQ(identifierProblem("::1:0:0:0:1", 64),
              "::1:0:0:0:1 has bits set inside the 64-bit prefix: give the host's interface "
              "identifier alone, its low 64 bits, such as ::211:32ff:fe12:3456");
    EXPECT_EQ(identifierProblem("::1:0:0:0:1", 56), std::nullopt);
    EXPECT_TRUE(identifierProblem("::100:0:0:0:1", 56)
                    ->startsWith("::100:0:0:0:1 has bits set "
                                 "inside the 56-bit prefix"));
    EXPECT_TRUE(identifierProblem("::8:0:0:0:1", 61)->contains("inside the 61-bit prefix"));
    EXPECT_EQ(identifierProblem("::1", 47), "the prefix length must be 48 to 64 bits, not 47");
    EXPECT_EQ(identifierProblem("::1", 65), "the prefix length must be 48 to 64 bits, not 65");
    EXPECT_EQ(identifierProblem("::", 64), "the interface identifier :: names no host");
    EXPECT_EQ(hostAddress("2001:db8::1", "::1:0:0:0:1", 64).error(),
              *identifierProblem("::1:0:0:0:1", 64));
    EXPECT_EQ(hostAddress("192.0.2.1", "::1", 64).error(), "192.0.2.1 is not an IPv6 address");
}

TEST(NameAddresses, EachFamilyTheNameAsksForThatIsPublished)
{
    const NameAddress a{AddressFamily::Ipv4, "203.0.113.7", {}};
    const NameAddress aaaa{AddressFamily::Ipv6, "2001:db8:1:2::40", {}};
    const AddressRound both = round("203.0.113.7", "2001:db8:1:2::40");
    EXPECT_EQ(nameAddresses(name(), both).records, QList<NameAddress>({a, aaaa}));
    EXPECT_EQ(nameAddresses(name({AddressFamily::Ipv6}), both).records, QList<NameAddress>{aaaa});
    EXPECT_TRUE(nameAddresses(name({AddressFamily::Ipv6}), both).notes.isEmpty());
    // A family found nothing this time: left alone, and the engine says why.
    const NameAddresses none = nameAddresses(name({AddressFamily::Ipv6}), round("203.0.113.7", ""));
    EXPECT_TRUE(none.records.isEmpty());
    EXPECT_TRUE(none.notes.isEmpty());

    // A family [address] family does not publish at all.
    const NameAddresses asked =
        nameAddresses(name({AddressFamily::Ipv4, AddressFamily::Ipv6}), round("203.0.113.7", {}));
    EXPECT_EQ(asked.records, QList<NameAddress>{a});
    EXPECT_EQ(asked.notes, QStringList{"IPv6 is asked for but not published ([address] family): "
                                       "the AAAA record of nas.example.test is left as it is"});
}

TEST(NameAddresses, ALanHostHoldsItsAaaaUnderThePublishedPrefixOnly)
{
    const DnsTargetSettings host = name({}, "::211:32ff:fe12:3456", 56);
    const NameAddresses both = nameAddresses(host, round("203.0.113.7", "2001:db8:1:2::40"));
    EXPECT_EQ(both.records,
              QList<NameAddress>(
                  {{AddressFamily::Ipv6, "2001:db8:1:0:211:32ff:fe12:3456", "2001:db8:1::/56"}}));
    EXPECT_TRUE(both.notes.isEmpty());
    const NameAddresses ipv4 = nameAddresses(host, round("203.0.113.7", {}));
    EXPECT_TRUE(ipv4.records.isEmpty());
    EXPECT_EQ(ipv4.notes, QStringList{"IPv6 is asked for but not published ([address] family): "
                                      "the AAAA record of nas.example.test is left as it is"});
}

} // namespace
