#include "page/pagetext.h"
#include "page/productsettings.h"
#include "publisherfixture.h"
#include "testrouter.h"

#include <QElapsedTimer>

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
    std::unique_ptr<TestFtpServer> server;
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

TEST_F(RouterTest, ARouterBehindAnotherNatIsNoAnswerAndTheNextSourceIsUsed)
{
    TestRouter::Options options;
    options.outsideAddress = "100.64.7.8/10"; // the provider's carrier-grade NAT
    options.reportedAddress.clear();
    START_ROUTER(options);
    configure("[address]\nsources = router, interface\n",
              "url = " + TestRouter::kDescriptionUrl.toUtf8() + "\n");
    const QString reason = "the router reports no outside address: its own line is most likely "
                           "behind another NAT (such as the provider's carrier-grade NAT), so "
                           "visitors cannot reach it";
    const Run address = runInClient({"address"});
    EXPECT_EQ(address.out, QString("router: no answer: %1\n"
                                   "  %2: answered an empty address\n"
                                   "  NAT-PMP at gateway 192.168.77.1: answered result code 3 "
                                   "(network failure: it has no outside address)\n"
                                   "interface: 192.168.77.50 (interface lan1)\n")
                               .arg(reason, kUpnpWhere));

    const Run once = runInClient({"once"});
    EXPECT_EQ(once.exitCode, 0) << once.err.toStdString();
    EXPECT_TRUE(once.err.contains("source router: " + reason)) << once.err.toStdString();
    EXPECT_TRUE(serverHas("192.168.77.50"));
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
    EXPECT_TRUE(watchLog().contains("router: port 8443: the router had forgotten the mapping: "
                                    "made again"))
        << watchLog().toStdString();
    // Still reported once: the same refusal at every check is no news.
    EXPECT_EQ(watchLog().count("router: port 80: not forwarded"), 1) << watchLog().toStdString();

    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();
    EXPECT_EQ(router->upnpMappings(), QStringList());
    EXPECT_TRUE(watchLog().contains("router: port 8080: forwarding removed"))
        << watchLog().toStdString();
}

} // namespace
