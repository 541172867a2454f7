#include "page/pagetext.h"
#include "page/productsettings.h"
#include "publisherfixture.h"
#include "testhttpecho.h"
#include "testrouter.h"

#include <QElapsedTimer>
#include <QThread>

using namespace quendle;
using namespace quendle::testing;

namespace {

const QString kUpnpWhere = "UPnP IGD at " + TestRouter::kDescriptionUrl;

// quendle-publish in the client namespace of a router, and an FTP server beside it.
class RouterTest : public PublisherFixture
{
protected:
    // Starts the rig; false (the test is then skipped or failed) when it cannot run.
    bool startRouter(const TestRouter::Options& options = {})
    {
        router = std::make_unique<TestRouter>(options);
        if (!router->ready())
            return false;
        TestFtpServer::Options serverOptions;
        serverOptions.launcher = router->clientLauncher();
        server = std::make_unique<TestFtpServer>(serverOptions);
        server->makeDirectory("/www");
        return server->running();
    }

    void configure(const QByteArray& address, const QByteArray& routerSection = {})
    {
        writeConfig(address + "\n[router]\n" + routerSection, targetFor("home", server->host()));
    }

    Run runInClient(const QStringList& arguments)
    {
        return run(arguments, router->clientLauncher());
    }

    bool serverHas(const QString& address)
    {
        return waitFor(
            [&] {
                return remotePage(*server) ==
                       onlinePage(address, "me@example.org", defaultBanner());
            },
            10000);
    }

    std::unique_ptr<TestRouter> router;
    // A port mapper for port 8080 and the client's IPv6 address, with a lease of 4 s, in the
    // client's namespace.
    void startProbe()
    {
        QStringList command = router->clientLauncher() +
                              QStringList{PINHOLE_PROBE_PROGRAM, TestRouter::kDescriptionUrl,
                                          "8080", TestRouter::kClientIpv6, "4"};
        probe.start(command.takeFirst(), command);
    }

    // The notes of one step of the probe: "keep" or "remove".
    QStringList step(const QByteArray& line)
    {
        probe.write(line + "\n");
        QStringList notes;
        while (probe.canReadLine() || probe.waitForReadyRead(10000)) {
            const QString note = QString::fromUtf8(probe.readLine()).chopped(1);
            if (note == ".")
                break;
            notes << note;
        }
        return notes;
    }

    void TearDown() override
    {
        probe.closeWriteChannel();
        if (probe.state() != QProcess::NotRunning && !probe.waitForFinished(5000))
            probe.kill();
    }

    std::unique_ptr<TestFtpServer> server;
    QProcess probe;
};

// gtest's skip must come from the test body itself.
#define START_ROUTER(...)                                                                          \
    do {                                                                                           \
        if (!startRouter(__VA_ARGS__)) {                                                           \
            if (router->namespacesUnavailable())                                                   \
                GTEST_SKIP() << "user network namespaces are unavailable here, so no router "      \
                                "can be started: "                                                 \
                             << router->error().toStdString();                                     \
            FAIL() << router->error().toStdString()                                                \
                   << (server ? server->startError().toStdString() : std::string());               \
        }                                                                                          \
    } while (false)

TEST_F(RouterTest, UpnpAnswersFoundByDiscoveryOrAtItsUrlAndOnceForwardsNothing)
{
    START_ROUTER();
    configure("[address]\nsources = router, interface\n", "forward = 8080\n");
    const Run discovered = runInClient({"address"});
    EXPECT_EQ(discovered.exitCode, 0) << discovered.err.toStdString();
    EXPECT_EQ(discovered.out, QString("router: 11.22.33.44 (%1)\n"
                                      "  %1: answered 11.22.33.44\n"
                                      "interface: 192.168.77.50 (interface lan1)\n")
                                  .arg(kUpnpWhere));

    configure("[address]\nsources = router\n",
              "url = " + TestRouter::kDescriptionUrl.toUtf8() + "\nforward = 8080\n");
    const Run once = runInClient({"once"});
    EXPECT_EQ(once.exitCode, 0) << once.err.toStdString();
    EXPECT_TRUE(once.err.contains("address 11.22.33.44 found by router (" + kUpnpWhere + ")"))
        << once.err.toStdString();
    EXPECT_TRUE(serverHas("11.22.33.44"));
    EXPECT_EQ(router->upnpMappings(), QStringList());
}

TEST_F(RouterTest, NatpmpAnswersWhenUpnpIsOffAndKeepsAForwardedPort)
{
    TestRouter::Options options;
    options.upnp = false;
    START_ROUTER(options);
    configure("[address]\nsources = router\n");
    const Run address = runInClient({"address"});
    EXPECT_EQ(address.exitCode, 0) << address.err.toStdString();
    EXPECT_EQ(address.out, "router: 11.22.33.44 (NAT-PMP at gateway 192.168.77.1)\n"
                           "  UPnP IGD: no device answered the discovery within 2 s\n"
                           "  NAT-PMP at gateway 192.168.77.1: answered 11.22.33.44\n");

    configure("[address]\nsources = interface\ncheck = 0.3\n",
              "protocols = natpmp\nforward = 8080\n");
    startWatch(router->clientLauncher());
    const QStringList mapped{"8080->192.168.77.50:8080"};
    EXPECT_TRUE(waitFor([&] { return router->forwardingRules() == mapped; }, 10000))
        << watchLog().toStdString() << router->daemonLog().toStdString();
    // The router holds the mapping a moment before the log says so.
    EXPECT_TRUE(waitFor(
        [&] {
            return watchLog().contains("router: port 8080: forwarded from the router's outside to "
                                       "this machine (NAT-PMP at gateway 192.168.77.1, lease "
                                       "3600 s)");
        },
        5000))
        << watchLog().toStdString();
    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();
    EXPECT_EQ(router->forwardingRules(), QStringList());
}

TEST_F(RouterTest, BehindAnotherNatNoIpv4IsPublishedAndIpv6AloneIs)
{
    TestRouter::Options options;
    options.outsideAddress = "100.64.7.8/10"; // the provider's carrier-grade NAT
    options.reportedAddress.clear();
    options.ipv6 = true;
    START_ROUTER(options);
    // The echo sees the provider's shared address, which looks public.
    TestHttpEcho echo("127.0.0.1", router->clientLauncher());
    ASSERT_TRUE(echo.running()) << echo.startError().toStdString();
    echo.setAnswer("11.22.33.55\n");
    const QByteArray sources =
        "[address]\nsources = router, web, interface\nweb = " + echo.url().toUtf8() + "\n";
    const QByteArray url = "url = " + TestRouter::kDescriptionUrl.toUtf8() + "\n";
    configure(sources, url);
    const QString routerSays = "the router reports no outside address: its own line is most "
                               "likely behind another NAT (such as the provider's carrier-grade "
                               "NAT), so visitors cannot reach it";
    const QString reason = routerSays + "; an IPv4 address another source finds is the "
                                        "provider's or another router's, which leads nowhere "
                                        "either. Ask the provider for a public IPv4 address, or "
                                        "add ipv6 to [address] family";
    const Run address = runInClient({"address"});
    EXPECT_EQ(address.exitCode, 1);
    EXPECT_EQ(address.out, QString("router: no answer: %1\n"
                                   "  %2: answered an empty address\n"
                                   "  NAT-PMP at gateway 192.168.77.1: answered result code 3 "
                                   "(network failure: it has no outside address)\n"
                                   "web: 11.22.33.55 (%3)\n"
                                   "interface: 192.168.77.50 (interface lan1)\n"
                                   "not published: %4\n")
                               .arg(routerSays, kUpnpWhere, echo.url(), reason));
    const Run ipv4Alone = runInClient({"once"});
    EXPECT_EQ(ipv4Alone.exitCode, 1);
    EXPECT_TRUE(ipv4Alone.err.contains("address not published: " + reason))
        << ipv4Alone.err.toStdString();
    EXPECT_EQ(remotePage(*server), QByteArray());

    configure(sources + "family = ipv4, ipv6\n", url);
    const Run both = runInClient({"once"});
    EXPECT_EQ(both.exitCode, 0) << both.err.toStdString();
    EXPECT_TRUE(both.err.contains("IPv4 address not published: " + reason))
        << both.err.toStdString();
    EXPECT_TRUE(
        both.err.contains("IPv6 address 2001:db8:77::50 found by interface (interface lan1)"))
        << both.err.toStdString();
    EXPECT_EQ(remotePage(*server),
              onlinePage("[2001:db8:77::50]", "me@example.org", defaultBanner()));
}

TEST_F(RouterTest, BothFamiliesOnAPublicLineGiveALinkForEachAndTheRoutersIpv4Address)
{
    TestRouter::Options options;
    options.ipv6 = true;
    START_ROUTER(options);
    TestHttpEcho echo("127.0.0.1", router->clientLauncher());
    ASSERT_TRUE(echo.running()) << echo.startError().toStdString();
    echo.setAnswer("11.22.33.55\n"); // a proxy's or another NAT's address
    configure("[address]\nsources = web, router, interface\nfamily = ipv4, ipv6\nweb = " +
                  echo.url().toUtf8() + "\n",
              "url = " + TestRouter::kDescriptionUrl.toUtf8() + "\n");
    const QString note = "note: the web echo sees 11.22.33.55 but the router's outside address is "
                         "11.22.33.44: another NAT or a proxy sits between the router and the "
                         "Internet; 11.22.33.44 is published, since visitors come in through the "
                         "router";
    const Run address = runInClient({"address"});
    EXPECT_EQ(address.exitCode, 0) << address.err.toStdString();
    const QStringList lines = address.out.split('\n');
    ASSERT_EQ(lines.size(), 10) << address.out.toStdString();
    EXPECT_EQ(lines.mid(0, 6),
              QStringList({"IPv4 web: 11.22.33.55 (" + echo.url() + ")",
                           "IPv4 router: 11.22.33.44 (" + kUpnpWhere + ")",
                           "  " + kUpnpWhere + ": answered 11.22.33.44",
                           "IPv4 interface: 192.168.77.50 (interface lan1)", "IPv4 " + note,
                           "IPv4 published: 11.22.33.44 (router)"}))
        << address.out.toStdString();
    EXPECT_TRUE(lines[6].startsWith("IPv6 web: no answer: ")) << lines[6].toStdString();
    EXPECT_EQ(lines.mid(7), QStringList({"IPv6 interface: 2001:db8:77::50 (interface lan1)",
                                         "IPv6 published: 2001:db8:77::50 (interface)", ""}));

    const Run once = runInClient({"once"});
    EXPECT_EQ(once.exitCode, 0) << once.err.toStdString();
    EXPECT_TRUE(once.err.contains("IPv4 " + note.mid(6))) << once.err.toStdString();
    EXPECT_EQ(remotePage(*server), onlinePageBothFamilies("11.22.33.44", "[2001:db8:77::50]",
                                                          "me@example.org", defaultBanner()));
}

TEST_F(RouterTest, AnIpv6PinholeIsOpenedRenewedAndClosed)
{
    TestRouter::Options options;
    options.ipv6 = true;
    START_ROUTER(options);
    startProbe();
    // Asked over IPv6 (found by discovery), as the router opens pinholes to the asker alone.
    EXPECT_EQ(
        step("keep"),
        QStringList({"port 8080: IPv6 pinhole opened to [2001:db8:77::50]:8080 (UPnP IGD at " +
                         TestRouter::kIpv6Url + ", lease 4 s)",
                     "port 8080: forwarded from the router's outside to this machine (" +
                         kUpnpWhere + ", lease 4 s)"}))
        << router->daemonLog().toStdString();
    EXPECT_EQ(router->pinholeRules(), QStringList{"[2001:db8:77::50]:8080"});
    QThread::msleep(2100); // past half the lease
    EXPECT_EQ(step("keep"),
              QStringList({"port 8080: IPv6 pinhole lease renewed", "port 8080: lease renewed"}));
    EXPECT_EQ(step("remove"), QStringList({"port 8080: IPv6 pinhole to [2001:db8:77::50] closed",
                                           "port 8080: forwarding removed"}));
    EXPECT_EQ(router->pinholeRules(), QStringList());
}

TEST_F(RouterTest, ARouterWithoutPinholesIsNotedOnce)
{
    TestRouter::Options options;
    options.ipv6 = true;
    options.pinholes = false;
    START_ROUTER(options);
    startProbe();
    EXPECT_EQ(
        step("keep"),
        QStringList({"no IPv6 port is opened: the router (UPnP IGD at " + TestRouter::kIpv6Url +
                         ") does not offer UPnP IGD v2's IPv6 firewall control (pinholes)",
                     "port 8080: forwarded from the router's outside to this machine (" +
                         kUpnpWhere + ", lease 4 s)"}));
    EXPECT_EQ(step("keep"), QStringList());
    EXPECT_EQ(router->pinholeRules(), QStringList());
}

TEST_F(RouterTest, WithoutARouterTheAttemptEndsWithinSeconds)
{
    TestRouter::Options options;
    options.startDaemon = false;
    options.clientGateway = "192.168.77.99"; // nothing answers there, not even ARP
    START_ROUTER(options);
    configure("[address]\nsources = router\n");
    QElapsedTimer timer;
    timer.start();
    const Run address = runInClient({"address"});
    EXPECT_LT(timer.elapsed(), 6000);
    EXPECT_EQ(address.exitCode, 1);
    EXPECT_EQ(address.out, "router: no answer: UPnP IGD: no device answered the discovery within "
                           "2 s; NAT-PMP: the gateway 192.168.77.99: no answer within 2 s\n"
                           "  UPnP IGD: no device answered the discovery within 2 s\n"
                           "  NAT-PMP at gateway 192.168.77.99: no answer within 2 s\n");
}

TEST_F(RouterTest, ForwardedPortsOutliveARouterRestartARefusalIsReportedAndStopRemovesThem)
{
    START_ROUTER();
    configure("[address]\nsources = interface\ncheck = 0.3\n",
              "url = " + TestRouter::kDescriptionUrl.toUtf8() + "\nforward = 8080, 80, 8443\n");
    startWatch(router->clientLauncher());
    const QStringList mapped{"8080->192.168.77.50:8080 'quendle-publish'",
                             "8443->192.168.77.50:8443 'quendle-publish'"};
    auto routerHasMapped = [&] {
        return waitFor(
            [&] {
                QStringList now = router->upnpMappings();
                now.sort();
                return now == mapped;
            },
            10000);
    };
    ASSERT_TRUE(routerHasMapped()) << watchLog().toStdString();
    // The router's refusal does not hold up publishing.
    EXPECT_TRUE(serverHas("192.168.77.50")) << watchLog().toStdString();
    EXPECT_EQ(watchLog().count("router: port 80: not forwarded: the router refused it (" +
                               kUpnpWhere + "): 606 Action not authorized"),
              1)
        << watchLog().toStdString();

    // The restarted router starts with no mapping; watch, checking every 0.3 s, may have made
    // them again before they could be listed here, so the log tells.
    ASSERT_TRUE(router->restart(true)) << router->daemonLog().toStdString();
    EXPECT_TRUE(routerHasMapped()) << watchLog().toStdString();
    // The mapping is on the router a moment before its line reaches the log.
    EXPECT_TRUE(waitFor(
        [&] {
            return watchLog().contains("router: port 8443: the router had forgotten the mapping: "
                                       "made again");
        },
        5000))
        << watchLog().toStdString();
    // Still reported once: the same refusal at every check is no news.
    EXPECT_EQ(watchLog().count("router: port 80: not forwarded"), 1) << watchLog().toStdString();

    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();
    EXPECT_EQ(router->upnpMappings(), QStringList());
    EXPECT_TRUE(watchLog().contains("router: port 8080: forwarding removed"))
        << watchLog().toStdString();
}

} // namespace
