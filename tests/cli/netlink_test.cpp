#include "page/pagetext.h"
#include "page/productsettings.h"
#include "publisherfixture.h"
#include "testhttpecho.h"
#include "testknot.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

using namespace quendle;
using namespace quendle::testing;

namespace {

// A network namespace of the test's own (user namespace, no root needed) with an interface
// veth0 whose address the test changes, and commands that run inside it.
class Namespace
{
public:
    // `ipv6` sets veth0's IPv6 addresses up.
    explicit Namespace(const QString& ipv6 = "ip -6 addr add 2001:db8::40/64 dev veth0 nodad")
    {
        m_holder.start("unshare",
                       {"-rn", "sh", "-c",
                        "ip link set lo up && ip link add veth0 type veth peer name veth1 && "
                        "ip link set veth1 up && ip link set veth0 up && "
                        "ip addr add 10.20.30.40/24 dev veth0 && " +
                            ipv6 + " && echo ready && exec cat"});
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
    bool shell(const QString& command, QString* output = nullptr) const
    {
        QProcess process;
        process.start("nsenter", launcher().mid(1) + QStringList{"sh", "-c", command});
        const bool ok = process.waitForFinished(10000) && process.exitCode() == 0;
        if (output)
            *output = QString::fromLocal8Bit(process.readAllStandardOutput());
        return ok;
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

TEST_F(NetlinkTest, TheStableIpv6AddressIsPublishedNotATemporaryOrADeprecatedOne)
{
    // The kernel makes a temporary address for the prefix of a mngtmpaddr one.
    Namespace space("echo 2 > /proc/sys/net/ipv6/conf/veth0/use_tempaddr && "
                    "ip -6 addr add 2001:db8:5::99/64 dev veth0 preferred_lft 0 nodad && "
                    "ip -6 addr add 2001:db8:5::7/64 dev veth0 valid_lft 3000 preferred_lft 2000 "
                    "nodad && ip -6 addr add 2001:db8:5::1/64 dev veth0 mngtmpaddr nodad");
    if (!space.ready())
        GTEST_SKIP() << "user network namespaces are unavailable here: "
                     << space.error().toStdString();
    QString listing;
    ASSERT_TRUE(space.shell("ip -6 -o addr show dev veth0 temporary", &listing));
    const QString temporary = listing.section("inet6 ", 1).section('/', 0, 0);
    ASSERT_TRUE(temporary.startsWith("2001:db8:5:0:")) << listing.toStdString();
    // A web echo sees the temporary address this machine uses for its own connections.
    TestHttpEcho echo("::1", space.launcher());
    ASSERT_TRUE(echo.running()) << echo.startError().toStdString();
    echo.setAnswer(temporary.toUtf8());
    writeConfig("[address]\nsources = web, interface\ninterface = veth0\nfamily = ipv6\nweb = " +
                    echo.url().toUtf8() + "\n",
                targetFor("home", "127.0.0.1"));
    const Run address = run({"address"}, space.launcher());
    EXPECT_EQ(address.exitCode, 0) << address.err.toStdString();
    EXPECT_EQ(address.out,
              QString("web: %1 (%2)\n"
                      "interface: 2001:db8:5::1 (interface veth0)\n"
                      "note: the web echo sees %1, a temporary address of interface veth0 that the "
                      "kernel replaces in a day or so; its stable address 2001:db8:5::1 of the "
                      "same prefix is published instead\n"
                      "published: 2001:db8:5::1 (web)\n")
                  .arg(temporary, echo.url()));
}

// Names for other machines of the home network follow this machine's IPv6 prefix, a name of one
// family leaves the other's record, and the history of addresses goes on across a restart.
TEST_F(NetlinkTest, LanHostsFollowThePrefixAndTheHistoryOutlivesARestartOfWatch)
{
    Namespace space("ip -6 addr add 2001:db8:1:2::40/64 dev veth0 nodad");
    if (!space.ready())
        GTEST_SKIP() << "user network namespaces are unavailable here: "
                     << space.error().toStdString();
    TestKnot knot(space.launcher());
    ASSERT_TRUE(knot.running()) << knot.startError().toStdString();
    const QString keyFile = writeSecretFile("tsig.key", knot.secret());
    const auto name = [&](const QByteArray& section, const QByteArray& more) {
        return "[dns " + section + "]\nprotocol = rfc2136\nname = " + section +
               ".example.test\nserver = " + knot.server().toUtf8() +
               "\nkey_name = quendle\nkey_file = " + keyFile.toUtf8() + "\n" + more;
    };
    writeConfig("[address]\nsources = interface\ninterface = veth0\nfamily = ipv4, ipv6\n"
                "check = 3600\n",
                name("nas", "ipv6_host = ::211:32ff:fe12:3456\n") +
                    name("printer", "ipv6_host = ::ab:0:0:0:7\nprefix_length = 56\n") +
                    name("home", "families = ipv6\n"));
    const Run address = run({"address"}, space.launcher());
    EXPECT_EQ(address.exitCode, 0) << address.err.toStdString();
    const QString at = " (at " + knot.server() + ")\n";
    EXPECT_TRUE(address.out.endsWith(
        "dns nas: host ::211:32ff:fe12:3456 under the prefix 2001:db8:1:2::/64: "
        "2001:db8:1:2:211:32ff:fe12:3456\n"
        "dns printer: host ::ab:0:0:0:7 under the prefix 2001:db8:1::/56: 2001:db8:1:ab::7\n"
        "dns nas: nas.example.test AAAA no record" +
        at + "dns printer: printer.example.test AAAA no record" + at +
        "dns home: home.example.test AAAA 2001:db8::1" + at))
        << address.out.toStdString();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_STATE_HOME", dir.filePath("state"));
    const auto zoneHolds = [&](const QString& prefix, const QString& printer, int milliseconds) {
        return waitFor(
            [&] {
                return knot.records("nas.example.test", "AAAA") ==
                           QStringList{prefix + ":211:32ff:fe12:3456"} &&
                       knot.records("printer.example.test", "AAAA") == QStringList{printer} &&
                       knot.records("home.example.test", "AAAA") == QStringList{prefix + "::40"};
            },
            milliseconds);
    };
    const auto movePrefix = [&](const QString& from, const QString& to) {
        return space.shell(QString("ip -6 addr del %1::40/64 dev veth0 && "
                                   "ip -6 addr add %2::40/64 dev veth0 nodad")
                               .arg(from, to));
    };
    startWatch(space.launcher(), environment);
    ASSERT_TRUE(zoneHolds("2001:db8:1:2", "2001:db8:1:ab::7", 15000)) << watchLog().toStdString();
    // Checks once an hour: the kernel's notice brings the new prefix to both hosts at once, in
    // the time a loaded machine may take.
    ASSERT_TRUE(movePrefix("2001:db8:1:2", "2001:db8:9:300"));
    EXPECT_TRUE(zoneHolds("2001:db8:9:300", "2001:db8:9:3ab::7", 2000)) << watchLog().toStdString();
    ASSERT_TRUE(zoneHolds("2001:db8:9:300", "2001:db8:9:3ab::7", 10000));
    EXPECT_EQ(knot.records("home.example.test", "A"), QStringList{"192.0.2.1"});
    EXPECT_EQ(knot.records("nas.example.test", "A"), QStringList{});
    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();

    // A change while no watch runs is one too.
    ASSERT_TRUE(movePrefix("2001:db8:9:300", "2001:db8:7:500"));
    startWatch(space.launcher(), environment);
    ASSERT_TRUE(zoneHolds("2001:db8:7:500", "2001:db8:7:5ab::7", 15000))
        << watchLog().toStdString();
    EXPECT_EQ(stopWatch(), 0) << watchLog().toStdString();
    EXPECT_FALSE(watchLog().contains("history")) << watchLog().toStdString();

    const QStringList status = {"status", "--history", "--state",
                                dir.filePath("state/quendle/state.json")};
    const Run history = run(status);
    EXPECT_EQ(history.exitCode, 0) << history.err.toStdString();
    const QRegularExpression time("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC ",
                                  QRegularExpression::MultilineOption);
    EXPECT_EQ(history.out.count(time), 4) << history.out.toStdString();
    EXPECT_EQ(QString(history.out).remove(time),
              "IPv6 2001:db8:9:300::40 → 2001:db8:7:500::40 (interface)\n"
              "IPv6 2001:db8:1:2::40 → 2001:db8:9:300::40 (interface)\n"
              "IPv6 2001:db8:1:2::40 found (interface)\n"
              "IPv4 10.20.30.40 found (interface)\n");
    const Run json = run(status + QStringList{"--json"});
    const QJsonArray changes =
        QJsonDocument::fromJson(json.out.toUtf8()).object().value("history").toArray();
    ASSERT_EQ(changes.size(), 4) << json.out.toStdString();
    QJsonObject newest = changes[0].toObject();
    EXPECT_TRUE(QDateTime::fromString(newest.take("time").toString(), Qt::ISODate).isValid());
    EXPECT_EQ(newest, QJsonObject({{"family", "ipv6"},
                                   {"old", "2001:db8:9:300::40"},
                                   {"new", "2001:db8:7:500::40"},
                                   {"source", "interface"}}));
    EXPECT_EQ(changes[3].toObject().value("old"), "");
}

} // namespace
