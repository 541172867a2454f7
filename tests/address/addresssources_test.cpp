#include "address/interfacesource.h"
#include "address/ipaddresstext.h"
#include "address/web/websource.h"
#include "testcertificates.h"
#include "testhttpecho.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

constexpr auto V4 = AddressFamily::Ipv4;
constexpr auto V6 = AddressFamily::Ipv6;

TEST(WebAnswer, IsOneAddressOfTheFamilyWithBlanksAroundIt)
{
    struct Row
    {
        QByteArray body;
        AddressFamily family;
        QString address; // empty: refused
    } rows[] = {
        {"192.0.2.7", V4, "192.0.2.7"},
        {" \t192.0.2.7\r\n", V4, "192.0.2.7"},
        {"2001:DB8:0:0::7\n", V6, "2001:db8::7"},
        {"192.0.2.7 192.0.2.8", V4, ""},
        {"192.0.2", V4, ""},
        {"192.0.2.256", V4, ""},
        {"0x7f.0.0.1", V4, ""},
        {"192.0.2.7", V6, ""},
        {"2001:db8::7", V4, ""},
        {"::ffff:192.0.2.7", V6, ""}, // an IPv4 address in IPv6 clothes
        {"fe80::1%eth0", V6, ""},
        {QByteArray("192.0.2.7\0", 10), V4, ""},
        {"", V4, ""},
    };
    for (const Row& row : rows) {
        const auto parsed = addressFromBody(row.body, row.family);
        EXPECT_EQ(parsed.value_or({}), row.address) << row.body.toStdString();
        EXPECT_EQ(parsed.error().isEmpty(), !row.address.isEmpty()) << row.body.toStdString();
    }
    EXPECT_EQ(addressFromBody("", V4).error(), "the answer is empty");
    EXPECT_EQ(
        addressFromBody("<html><body>Your address is 192.0.2.7</body></html>\n", V4).error(),
        "the answer is not one IPv4 address: \"<html><body>Your address is 192.0.2.7</b...\"");
    EXPECT_EQ(linkHost("2001:db8::7", V6), "[2001:db8::7]");
    EXPECT_EQ(linkHost("192.0.2.7", V4), "192.0.2.7");
}

TEST(WebSource, FetchesTheAnswerAndSaysWhyItHasNone)
{
    TestHttpEcho echo;
    ASSERT_TRUE(echo.running()) << echo.startError().toStdString();

    EXPECT_EQ(webAddress(echo.url(), V4).error, "the server answered HTTP 404");
    echo.setAnswer("81.2.69.160\n");
    const SourceAnswer answer = webAddress(echo.url(), V4);
    EXPECT_EQ(answer.address, "81.2.69.160");
    EXPECT_EQ(answer.origin, echo.url());
    EXPECT_TRUE(answer.ok());
    echo.setAnswer(QByteArray(5000, '1'));
    EXPECT_EQ(webAddress(echo.url(), V4).error, "the answer is longer than an address");
    // The echo listens on IPv4 only: asked over IPv6 it cannot be reached.
    EXPECT_FALSE(webAddress(QString(echo.url()).replace("127.0.0.1", "[::1]"), V6).ok());
}

TEST(WebSource, AnAnswerVisitorsCannotReachIsRefusedWithItsRange)
{
    TestHttpEcho echo;
    ASSERT_TRUE(echo.running()) << echo.startError().toStdString();
    const QString unreachable = ": visitors cannot reach it";
    const QString inside = ": the echo sees this machine from inside a private network, so "
                           "visitors cannot reach it";
    const struct
    {
        QByteArray answer;
        QString error;
    } rows[] = {
        {"0.0.0.0", "0.0.0.0 is not public (\"this network\", 0.0.0.0/8)" + unreachable},
        {"127.0.0.1", "127.0.0.1 is not public (loopback, 127.0.0.0/8)" + unreachable},
        {"192.168.1.5", "192.168.1.5 is not public (private, 192.168.0.0/16)" + inside},
        {"100.64.12.34", "100.64.12.34 is not public (carrier-grade NAT, 100.64.0.0/10)" + inside},
        {"255.255.255.255", "255.255.255.255 is not public (reserved, 240.0.0.0/4)" + unreachable},
        {"203.0.113.9", "203.0.113.9 is not public (documentation, 203.0.113.0/24)" + unreachable},
    };
    for (const auto& row : rows) {
        echo.setAnswer(row.answer);
        const SourceAnswer answer = webAddress(echo.url(), V4);
        EXPECT_EQ(answer.address, "");
        EXPECT_EQ(answer.error, "the web echo's answer " + row.error);
    }
}

TEST(WebSource, FollowsAtMostThreeRedirectsToHttpAndNamesTheLast)
{
    TestHttpEcho echo;
    TestHttpEcho inside;
    ASSERT_TRUE(echo.running()) << echo.startError().toStdString();
    ASSERT_TRUE(inside.running()) << inside.startError().toStdString();
    echo.setAnswer("81.2.69.160");

    const SourceAnswer three = webAddress(echo.urlAfterRedirects(3), V4);
    EXPECT_EQ(three.address, "81.2.69.160") << three.error.toStdString();
    EXPECT_EQ(three.origin, echo.url() + ", redirected from " + echo.urlAfterRedirects(3));
    const SourceAnswer four = webAddress(echo.urlAfterRedirects(4), V4);
    EXPECT_EQ(four.address, "");
    EXPECT_EQ(four.error, "the echo redirected more than 3 times");

    // A redirect to an echo on the local network gets that echo's private answer: refused.
    inside.setAnswer("192.168.1.5");
    echo.redirectTo(inside.url());
    const SourceAnswer redirected = webAddress(echo.url(), V4);
    EXPECT_EQ(redirected.address, "");
    EXPECT_TRUE(redirected.error.startsWith("the web echo's answer 192.168.1.5 is not public"))
        << redirected.error.toStdString();
    EXPECT_EQ(redirected.origin, inside.url() + ", redirected from " + echo.url());

    echo.redirectTo("ftp://127.0.0.1/ip");
    EXPECT_EQ(webAddress(echo.url(), V4).error,
              "the echo redirected to ftp://127.0.0.1/ip, which is neither http nor https");
}

TEST(WebSource, AnHttpsEchoIsTrustedThroughTheProgramsTrustStore)
{
    const TestCertificates& certificates = TestCertificates::shared();
    ASSERT_TRUE(certificates.ok()) << certificates.error().toStdString();
    const TestCertificates::Pair pair = certificates.localhost();
    TestHttpEcho echo("127.0.0.1", {}, &pair);
    ASSERT_TRUE(echo.running()) << echo.startError().toStdString();
    echo.setAnswer("81.2.69.160");

    qputenv("SSL_CERT_FILE", QFile::encodeName(certificates.unrelatedAuthority()));
    qputenv("SSL_CERT_DIR", "/nonexistent");
    EXPECT_EQ(webAddress(echo.url(), V4).address, "");
    qputenv("SSL_CERT_FILE", QFile::encodeName(certificates.authority()));
    const SourceAnswer trusted = webAddress(echo.url(), V4);
    qunsetenv("SSL_CERT_FILE");
    qunsetenv("SSL_CERT_DIR");
    EXPECT_EQ(trusted.address, "81.2.69.160") << trusted.error.toStdString();
}

// What the kernel reports: interface, address, prefix, global, temporary, deprecated, tentative
// or duplicate, permanent, preferred lifetime.
const QList<Ipv6Address> kAddresses{
    {"eth0", "fe80::1", 64, false, false, false, false, true, 0xffffffff},
    {"eth0", "2001:db8::11", 64, true, true, false, false, false, 86000},      // temporary
    {"eth0", "2001:db8::12", 64, true, false, true, false, true, 0},           // deprecated
    {"eth0", "2001:db8::13", 64, true, false, false, true, true, 0xffffffff},  // tentative
    {"eth0", "fd00::15", 64, true, false, false, false, true, 0xffffffff},     // unique-local
    {"eth0", "2001:db8::16", 64, true, false, false, false, false, 3000},      // from the router
    {"eth0", "2001:db8::14", 64, true, false, false, false, true, 0xffffffff}, // by hand
    {"eth0", "2001:db8::17", 64, true, false, false, false, false, 7000},
    {"wlan0", "2001:db8:1::21", 64, true, false, false, false, false, 600},
    {"wlan0", "2001:db8:1::22", 64, true, false, false, false, false, 1200},
    {"wlan0", "2001:db8:1::a", 64, true, true, false, false, false, 900},
    {"lo", "::1", 128, false, false, false, false, true, 0xffffffff}};
// /proc/net/ipv6_route: the unreachable default route on lo, then the real one on wlan0.
const QString kRoutes = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                        "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200 lo\n"
                        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                        "fe800000000000000000000000000001 00000400 00000001 00000000 00450003 "
                        "wlan0\n";

TEST(InterfaceSource, PublishesOnlyAStableGlobalIpv6Address)
{
    EXPECT_EQ(chooseInterfaceIpv6(kRoutes, kAddresses, "").address, "2001:db8:1::22");
    const SourceAnswer eth0 = chooseInterfaceIpv6(kRoutes, kAddresses, "eth0");
    EXPECT_EQ(eth0.address, "2001:db8::14");
    EXPECT_EQ(eth0.origin, "interface eth0");
    EXPECT_EQ(chooseInterfaceIpv6(kRoutes, kAddresses.mid(0, 6), "eth0").address, "2001:db8::16");
    EXPECT_EQ(chooseInterfaceIpv6("", kAddresses.mid(0, 5), "eth0").error,
              "interface eth0 has no usable global IPv6 address");
    EXPECT_EQ(chooseInterfaceIpv6("", kAddresses.mid(11), "").error,
              "no interface has a global IPv6 address");
    // A web echo sees the temporary address: the stable one of the same prefix goes instead.
    EXPECT_EQ(stableInsteadOfTemporary(kAddresses, "2001:db8:1::a")->address, "2001:db8:1::22");
    EXPECT_EQ(stableInsteadOfTemporary(kAddresses, "2001:db8::11")->address, "2001:db8::14");
    EXPECT_FALSE(stableInsteadOfTemporary(kAddresses, "2001:db8::14"));
    EXPECT_FALSE(stableInsteadOfTemporary(kAddresses.mid(0, 5), "2001:db8::11"));
}

TEST(InterfaceSource, NamesTheInterfaceAndNeverPublishesLoopback)
{
    const QList<InterfaceAddress> interfaces{{"lo", "127.0.0.1", true, true},
                                             {"eth1", "192.168.0.5", false, false},
                                             {"wlan0", "192.0.2.7", true, false}};
    EXPECT_EQ(chooseInterfaceIpv4("", interfaces, "").address, "192.0.2.7");
    EXPECT_EQ(chooseInterfaceIpv4("", interfaces, "eth1").error, "interface eth1 is down");
    EXPECT_EQ(chooseInterfaceIpv4("", interfaces, "eth9").error,
              "interface eth9 has no IPv4 address");
    EXPECT_EQ(chooseInterfaceIpv4("", interfaces.mid(0, 2), "").error,
              "no interface but loopback has an IPv4 address");
}

} // namespace
