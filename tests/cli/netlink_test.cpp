#include "page/pagetext.h"
#include "page/productsettings.h"
#include "publisherfixture.h"

#include <QElapsedTimer>

using namespace quendle;
using namespace quendle::testing;

namespace {

// A network namespace of the test's own (user namespace, no root needed) with an interface
// veth0 whose address the test changes, and commands that run inside it.
class Namespace
{
public:
    Namespace()
    {
        m_holder.start(
            "unshare",
            {"-rn", "sh", "-c",
             "ip link set lo up && ip link add veth0 type veth peer name veth1 && "
             "ip link set veth1 up && ip link set veth0 up && "
             "ip addr add 10.20.30.40/24 dev veth0 && "
             "ip -6 addr add 2001:db8::40/64 dev veth0 nodad && echo ready && exec cat"});
        if (m_holder.waitForReadyRead(10000) && m_holder.readLine() == "ready\n")
            m_ready = true;
        else
            m_error = QString::fromLocal8Bit(m_holder.readAllStandardError());
    }
    ~Namespace()
    {
        m_holder.closeWriteChannel(); // cat ends, and the namespace with it
        if (!m_holder.waitForFinished(5000))
            m_holder.kill();
        m_holder.waitForFinished();
    }

    bool ready() const { return m_ready; }
    QString error() const { return m_error; }
    QStringList launcher() const
    {
        return {"nsenter", "--preserve-credentials",
                "-U",      "-n",
                "-t",      QString::number(m_holder.processId())};
    }
    bool shell(const QString& command) const
    {
        QProcess process;
        process.start("nsenter", launcher().mid(1) + QStringList{"sh", "-c", command});
        return process.waitForFinished(10000) && process.exitCode() == 0;
    }

private:
    QProcess m_holder;
    bool m_ready = false;
    QString m_error;
};

class NetlinkTest : public PublisherFixture
{
};

TEST_F(NetlinkTest, AnAddressChangeOnTheInterfaceIsPublishedWithinSeconds)
{
    Namespace space;
    if (!space.ready())
        GTEST_SKIP() << "user network namespaces are unavailable here (unshare -rn and a veth "
                        "pair failed: "
                     << space.error().toStdString() << ")";
    TestFtpServer::Options options;
    options.launcher = space.launcher();
    TestFtpServer server(options);
    ASSERT_TRUE(server.running()) << server.startError().toStdString();
    server.makeDirectory("/www");

    // The IPv6 address of the interface, in brackets in the link.
    writeConfig("[address]\nsources = interface\ninterface = veth0\nfamily = ipv6\n",
                targetFor("home", server.host()));
    const Run once = run({"once"}, space.launcher());
    EXPECT_EQ(once.exitCode, 0) << once.err.toStdString();
    EXPECT_EQ(remotePage(server), onlinePage("[2001:db8::40]", "me@example.org", defaultBanner()));

    // Checks once an hour: only the kernel's notice can bring the new address in time.
    writeConfig("[address]\nsources = interface\ninterface = veth0\ncheck = 3600\n",
                targetFor("home", server.host()));
    startWatch(space.launcher());
    auto serverHas = [&](const QString& address) {
        return waitFor(
            [&] {
                return remotePage(server) == onlinePage(address, "me@example.org", defaultBanner());
            },
            10000);
    };
    ASSERT_TRUE(serverHas("10.20.30.40")) << watchLog().toStdString();
    QElapsedTimer sinceChange;
    sinceChange.start();
    ASSERT_TRUE(space.shell("ip addr del 10.20.30.40/24 dev veth0 && "
                            "ip addr add 10.20.30.41/24 dev veth0"));
    ASSERT_TRUE(serverHas("10.20.30.41")) << watchLog().toStdString();
    EXPECT_LT(sinceChange.elapsed(), 5000);
    EXPECT_TRUE(watchLog().contains("address changed: 10.20.30.40 → 10.20.30.41 (interface)"));
    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();
    EXPECT_EQ(remotePage(server), offlinePage("me@example.org"));
}

} // namespace
