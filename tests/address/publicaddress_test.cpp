#include "address/publicaddress.h"
#include "address/router/routersource.h"

#include <gtest/gtest.h>

using namespace quendle;

namespace {

TEST(PublicAddress, TheSpecialUseRangesAndTheirEdges)
{
    struct Row
    {
        const char* address;
        const char* range; // empty: public
        bool behindNat;
    } rows[] = {
        {"11.22.33.44", "", false},
        {"9.255.255.255", "", false},
        {"10.0.0.0", "10.0.0.0/8", true},
        {"10.255.255.255", "10.0.0.0/8", true},
        {"100.63.255.255", "", false},
        {"100.64.0.0", "100.64.0.0/10", true},
        {"100.127.255.255", "100.64.0.0/10", true},
        {"100.128.0.0", "", false},
        {"172.15.255.255", "", false},
        {"172.16.0.1", "172.16.0.0/12", true},
        {"172.31.255.255", "172.16.0.0/12", true},
        {"172.32.0.0", "", false},
        {"192.168.1.1", "192.168.0.0/16", true},
        {"192.169.0.0", "", false},
        {"0.0.0.0", "0.0.0.0/8", false},
        {"127.0.0.1", "127.0.0.0/8", false},
        {"169.254.10.1", "169.254.0.0/16", false},
        {"192.0.0.9", "192.0.0.0/24", false},
        {"192.0.2.7", "192.0.2.0/24", false},
        {"192.88.99.1", "192.88.99.0/24", false},
        {"198.17.255.255", "", false},
        {"198.18.0.0", "198.18.0.0/15", false},
        {"198.19.255.255", "198.18.0.0/15", false},
        {"198.51.100.23", "198.51.100.0/24", false},
        {"203.0.113.1", "203.0.113.0/24", false},
        {"223.255.255.255", "", false},
        {"224.0.0.1", "224.0.0.0/4", false},
        {"255.255.255.255", "240.0.0.0/4", false},
    };
    for (const Row& row : rows) {
        const auto range = specialUseRange(row.address);
        EXPECT_EQ(range ? QString(range->cidr) : QString(), row.range) << row.address;
        EXPECT_EQ(range && range->behindNat, row.behindNat) << row.address;
    }
}

TEST(PublicAddress, TheRoutersAnswerIsJudgedWithAReasonForPeople)
{
    EXPECT_EQ(router::reachableAddress("11.22.33.44").value_or({}), "11.22.33.44");
    EXPECT_EQ(router::reachableAddress("100.72.1.9").error(),
              "the router's own outside address 100.72.1.9 is not public (carrier-grade NAT, "
              "100.64.0.0/10): this line is behind another NAT, so visitors cannot reach it");
    EXPECT_EQ(router::reachableAddress("192.168.0.2").error(),
              "the router's own outside address 192.168.0.2 is not public (private, "
              "192.168.0.0/16): this line is behind another NAT, so visitors cannot reach it");
    EXPECT_EQ(router::reachableAddress("169.254.3.3").error(),
              "the router's outside address 169.254.3.3 is not public (link-local, "
              "169.254.0.0/16): visitors cannot reach it");
    EXPECT_EQ(router::reachableAddress("").error(),
              "the router reports no outside address: its own line is most likely behind another "
              "NAT (such as the provider's carrier-grade NAT), so visitors cannot reach it");
    EXPECT_EQ(router::reachableAddress("011.22.33.44").error(),
              "the router's answer \"011.22.33.44\" is not an IPv4 address");
    EXPECT_EQ(router::reachableAddress("0.0.0.0").error(),
              "the router's outside address 0.0.0.0 is not public (\"this network\", 0.0.0.0/8): "
              "visitors cannot reach it");
}

} // namespace
