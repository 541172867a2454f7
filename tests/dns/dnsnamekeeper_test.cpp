#include "dns/dnsnamekeeper.h"
#include "dns/rfc2136batch.h"

#include "testknot.h"

#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace quendle;
using quendle::testing::TestKnot;

namespace {

const QString kName = QStringLiteral("home.example.test");

class Rfc2136Test : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(knot.running()) << knot.startError().toStdString(); }

    DnsTargetSettings settings() const
    {
        DnsTargetSettings target;
        target.name = QStringLiteral("home");
        target.dnsName = kName;
        target.server = knot.server();
        target.keyName = QStringLiteral("quendle");
        target.keySecret = knot.secret();
        return target;
    }

    TestKnot knot;
};

TEST_F(Rfc2136Test, EachFamilyIsUpdatedAloneAndReadBack)
{
    DnsNameKeeper keeper(settings(), {5}); // the zone is found by asking for the SOA
    const DnsOutcome v4 = keeper.publish(AddressFamily::Ipv4, "203.0.113.7", true);
    EXPECT_EQ(v4.status, DnsOutcome::Status::Published) << v4.reason.toStdString();
    EXPECT_TRUE(v4.sent);
    EXPECT_EQ(v4.reason, "home.example.test now holds 203.0.113.7 at " + knot.server());
    EXPECT_EQ(v4.held, QStringList{"203.0.113.7"});
    EXPECT_EQ(knot.records(kName, "A"), QStringList{"203.0.113.7"});
    EXPECT_EQ(knot.records(kName, "AAAA"), QStringList{"2001:db8::1"});

    const DnsOutcome v6 = keeper.publish(AddressFamily::Ipv6, "2001:db8::42", true);
    EXPECT_EQ(v6.status, DnsOutcome::Status::Published) << v6.reason.toStdString();
    EXPECT_EQ(knot.records(kName, "AAAA"), QStringList{"2001:db8::42"});
    EXPECT_EQ(knot.records(kName, "A"), QStringList{"203.0.113.7"});

    // A name without records gets one; what the name holds is shown as the server has it.
    DnsTargetSettings fresh = settings();
    fresh.dnsName = "new.example.test";
    fresh.zone = "example.test";
    fresh.ttl = 300;
    DnsNameKeeper freshKeeper(fresh, {5});
    const DnsLookup none = freshKeeper.holds(AddressFamily::Ipv4);
    EXPECT_TRUE(none.ok) << none.error.toStdString();
    EXPECT_TRUE(none.held.isEmpty());
    EXPECT_EQ(freshKeeper.publish(AddressFamily::Ipv4, "198.51.100.9", true).status,
              DnsOutcome::Status::Published);
    const DnsLookup one = freshKeeper.holds(AddressFamily::Ipv4);
    EXPECT_EQ(one.held, QStringList{"198.51.100.9"});
    EXPECT_EQ(one.server, knot.server());
}

TEST_F(Rfc2136Test, AnAddressTheNameHoldsSendsNothing)
{
    const QString serial = knot.serial();
    DnsNameKeeper keeper(settings(), {5});
    const DnsOutcome same = keeper.publish(AddressFamily::Ipv4, "192.0.2.1", true);
    EXPECT_EQ(same.status, DnsOutcome::Status::AlreadyCurrent);
    EXPECT_FALSE(same.sent);
    EXPECT_EQ(same.reason, "home.example.test already holds 192.0.2.1 at " + knot.server());
    // Inside the caller's quiet time a needed update is not sent either.
    const DnsOutcome held = keeper.publish(AddressFamily::Ipv4, "192.0.2.2", false);
    EXPECT_EQ(held.status, DnsOutcome::Status::Failed);
    EXPECT_FALSE(held.sent);
    EXPECT_EQ(held.reason, "home.example.test holds 192.0.2.1 at " + knot.server() +
                               ", but 192.0.2.2 went out for it less than 10 minutes ago; it is "
                               "not sent again before then");
    EXPECT_EQ(knot.serial(), serial);
    EXPECT_EQ(knot.records(kName, "A"), QStringList{"192.0.2.1"});
}

// The question before the update is signed with the same key: a key the server refuses sends no
// update, and its unsigned refusal is not believed either, only reported once the wait is over.
TEST_F(Rfc2136Test, ARefusedKeyChangesNothingAndSaysWhy)
{
    struct Row
    {
        QString keyName;
        QString secret;
        QString refusal;
    } rows[] = {
        {"quendle", QByteArray(32, 'x').toBase64(),
         "BADSIG: the secret in key_file or credential is not the one the server has for key "
         "quendle"},
        {"stranger", knot.secret(),
         "BADKEY: the server does not know key stranger with hmac-sha256, or does not let it ask "
         "about the zone; check key_name and key_algorithm, and that the server allows the key to "
         "query"},
    };
    const QString serial = knot.serial();
    for (const Row& row : rows) {
        DnsTargetSettings target = settings();
        target.zone = "example.test";
        target.keyName = row.keyName;
        target.keySecret = row.secret;
        const DnsOutcome outcome =
            DnsNameKeeper(target, {1}).publish(AddressFamily::Ipv4, "203.0.113.7", true);
        EXPECT_EQ(outcome.status, DnsOutcome::Status::Failed);
        EXPECT_FALSE(outcome.sent);
        EXPECT_EQ(outcome.reason.toStdString(),
                  ("cannot ask what home.example.test holds: no answer from " + knot.server() +
                   " signed with key " + row.keyName +
                   " within 1 seconds; dropped: an unsigned answer saying " + row.refusal)
                      .toStdString());
    }
    EXPECT_EQ(knot.serial(), serial);
    EXPECT_EQ(knot.records(kName, "A"), QStringList{"192.0.2.1"});
}

TEST_F(Rfc2136Test, NamesOfOneZoneServerAndKeyGoInOneUpdate)
{
    const auto wanted = [&](const QString& name, AddressFamily family, const QString& address,
                            const QString& secret) {
        DnsTargetSettings target = settings();
        target.dnsName = name;
        target.keySecret = secret;
        return WantedRecord{target, family, address, true};
    };
    const auto names = [&](const QString& secret) {
        return QList<WantedRecord>{
            wanted(kName, AddressFamily::Ipv4, "192.0.2.1", secret), // held already
            wanted(kName, AddressFamily::Ipv6, "2001:db8::42", secret),
            wanted("a.example.test", AddressFamily::Ipv4, "198.51.100.1", secret),
            wanted("b.example.test", AddressFamily::Ipv6, "2001:db8::b", secret),
        };
    };
    const QList<WantedRecord> batch = names(knot.secret());
    EXPECT_EQ(rfc2136BatchKey(batch[0].settings), rfc2136BatchKey(batch[2].settings));
    EXPECT_NE(rfc2136BatchKey(batch[0].settings),
              rfc2136BatchKey(names(QByteArray(32, 'x').toBase64())[0].settings));
    EXPECT_FALSE(rfc2136BatchKey(batch[0].settings).contains(knot.secret()));
    DnsTargetSettings dyndns2;
    dyndns2.protocol = DnsProtocol::Dyndns2;
    EXPECT_EQ(rfc2136BatchKey(dyndns2), "");

    // A wrong key is met at the first signed question, whose unsigned BADSIG answer is no proof:
    // every name fails, saying so, and nothing is sent.
    const QString serial = knot.serial();
    const QList<DnsOutcome> refused =
        Rfc2136Batch({1}).publish(names(QByteArray(32, 'x').toBase64()));
    ASSERT_EQ(refused.size(), 4);
    for (const DnsOutcome& outcome : refused) {
        EXPECT_EQ(outcome.status, DnsOutcome::Status::Failed);
        EXPECT_FALSE(outcome.sent);
        EXPECT_TRUE(outcome.reason.contains("BADSIG")) << outcome.reason.toStdString();
    }
    EXPECT_EQ(knot.serial(), serial);

    // The serial goes up once for each UPDATE the server applies.
    const QList<DnsOutcome> done = Rfc2136Batch({5}).publish(batch);
    ASSERT_EQ(done.size(), 4);
    EXPECT_EQ(done[0].status, DnsOutcome::Status::AlreadyCurrent);
    EXPECT_FALSE(done[0].sent);
    const QString at = " at " + knot.server();
    const QString published[] = {kName + " now holds 2001:db8::42" + at,
                                 "a.example.test now holds 198.51.100.1" + at,
                                 "b.example.test now holds 2001:db8::b" + at};
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(done[i].status, DnsOutcome::Status::Published) << done[i].reason.toStdString();
        EXPECT_EQ(done[i].reason, published[i - 1]);
    }
    EXPECT_EQ(knot.serial().toLongLong(), serial.toLongLong() + 1);
    EXPECT_EQ(knot.records(kName, "A"), QStringList{"192.0.2.1"});
    EXPECT_EQ(knot.records(kName, "AAAA"), QStringList{"2001:db8::42"});
    EXPECT_EQ(knot.records("a.example.test", "A"), QStringList{"198.51.100.1"});
    EXPECT_EQ(knot.records("b.example.test", "AAAA"), QStringList{"2001:db8::b"});
}

// 300 names, a tenth current and a tenth holding another address: the questions before and after
// go out together, and every change in one UPDATE.
TEST_F(Rfc2136Test, ThreeHundredNamesGoInOneUpdate)
{
    QList<WantedRecord> batch;
    QStringList questions, expected;
    QString held;
    for (int i = 0; i < 300; ++i) {
        DnsTargetSettings target = settings();
        target.dnsName = QStringLiteral("n%1.example.test").arg(i);
        const AddressFamily family = i % 3 ? AddressFamily::Ipv4 : AddressFamily::Ipv6;
        const QString type = recordTypeName(family);
        const QString address = family == AddressFamily::Ipv4
                                    ? QStringLiteral("198.51.%1.%2").arg(100 + i / 200).arg(i % 200)
                                    : QStringLiteral("2001:db8::%1").arg(i + 1, 0, 16);
        const QString record = target.dnsName + ". 60 IN " + type + ' ';
        if (i % 10 == 0)
            held += "add " + record + address + "\n";
        else if (i % 10 == 1)
            held += "add " + record +
                    (family == AddressFamily::Ipv4 ? "192.0.2.9" : "2001:db8::9") + "\n";
        batch << WantedRecord{target, family, address, true};
        questions << target.dnsName + ' ' + type;
        expected << record + address;
    }
    ASSERT_EQ(knot.update(held), "");
    const QString serial = knot.serial();
    const QList<DnsOutcome> done = Rfc2136Batch({5}).publish(batch);
    ASSERT_EQ(done.size(), 300);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(done[i].status,
                  i % 10 ? DnsOutcome::Status::Published : DnsOutcome::Status::AlreadyCurrent)
            << done[i].reason.toStdString();
        EXPECT_EQ(done[i].sent, i % 10 != 0);
        EXPECT_EQ(done[i].held, QStringList{batch[i].address});
    }
    EXPECT_EQ(knot.serial().toLongLong(), serial.toLongLong() + 1);
    expected.sort();
    EXPECT_EQ(knot.answers(questions).join('\n').toStdString(), expected.join('\n').toStdString());
}

// A server of the test's own between the publisher and Knot answers each question first with
// forgeries: from another port, with another ID, bytes that are no DNS message, and an unsigned
// answer that the name already holds the address. None is believed.
class SpoofedTest : public Rfc2136Test
{
protected:
    QString startSpoofer(const QString& mode)
    {
        spoofer.start("/usr/bin/python3", {"-u", QUENDLE_DNS_SPOOFER_SCRIPT,
                                           QString::number(knot.port()), "203.0.113.7", mode});
        while (!spoofer.canReadLine())
            if (!spoofer.waitForReadyRead(15000))
                return {};
        return "127.0.0.1:" + QString::fromLatin1(spoofer.readLine()).section(' ', 1).trimmed();
    }
    void TearDown() override
    {
        spoofer.kill();
        spoofer.waitForFinished(5000);
    }

    QProcess spoofer;
};

TEST_F(SpoofedTest, OnlyTheSignedAnswerIsTaken)
{
    DnsTargetSettings target = settings();
    target.server = startSpoofer("relay");
    ASSERT_FALSE(target.server.isEmpty());
    const DnsOutcome outcome =
        DnsNameKeeper(target, {5}).publish(AddressFamily::Ipv4, "203.0.113.7", true);
    EXPECT_EQ(outcome.status, DnsOutcome::Status::Published) << outcome.reason.toStdString();
    EXPECT_TRUE(outcome.sent);
    EXPECT_EQ(knot.records(kName, "A"), QStringList{"203.0.113.7"});
}

// Questions asked together are each answered with forgeries saying the name already holds the
// wanted address: none is believed, and every name is updated.
TEST_F(SpoofedTest, ForgeriesToQuestionsAskedTogetherAreNotBelieved)
{
    const QString server = startSpoofer("relay");
    ASSERT_FALSE(server.isEmpty());
    QList<WantedRecord> batch;
    for (const char* name : {"home", "a", "b", "c"}) {
        DnsTargetSettings target = settings();
        target.dnsName = QString::fromLatin1(name) + ".example.test";
        target.server = server;
        batch << WantedRecord{target, AddressFamily::Ipv4, "203.0.113.7", true};
    }
    const QString serial = knot.serial();
    for (const DnsOutcome& outcome : Rfc2136Batch({5}).publish(batch)) {
        EXPECT_EQ(outcome.status, DnsOutcome::Status::Published) << outcome.reason.toStdString();
        EXPECT_TRUE(outcome.sent);
    }
    EXPECT_EQ(knot.serial().toLongLong(), serial.toLongLong() + 1);
    for (const WantedRecord& record : batch)
        EXPECT_EQ(knot.records(record.settings.dnsName, "A"), QStringList{"203.0.113.7"});
}

TEST_F(SpoofedTest, ForgeriesAloneAreAWaitThatRunsOut)
{
    DnsTargetSettings target = settings();
    target.server = startSpoofer("forge");
    ASSERT_FALSE(target.server.isEmpty());
    const DnsLookup signedLookup = DnsNameKeeper(target, {1}).holds(AddressFamily::Ipv4);
    EXPECT_FALSE(signedLookup.ok);
    EXPECT_EQ(signedLookup.error.toStdString(),
              ("no answer from " + target.server +
               " signed with key quendle within 1 seconds; dropped: an answer without a valid "
               "signature of key quendle")
                  .toStdString());
    // Without a key (dyndns2), the question goes over TCP, where the spoofer does not listen.
    target.protocol = DnsProtocol::Dyndns2;
    target.verify = target.server;
    const DnsLookup unsignedLookup = DnsNameKeeper(target, {1}).holds(AddressFamily::Ipv4);
    EXPECT_FALSE(unsignedLookup.ok);
    EXPECT_EQ(unsignedLookup.error.toStdString(),
              ("cannot ask " + target.server + " over TCP: Connection refused").toStdString());
}

TEST(DnsNameKeeper, AServerThatDoesNotAnswerFailsWithinTheBound)
{
    // A UDP port that is open and never read.
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    const QString server = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));

    DnsTargetSettings target;
    target.dnsName = kName;
    target.server = server;
    target.zone = "example.test";
    target.keyName = "quendle";
    target.keySecret = QByteArray(32, 'x').toBase64();
    QElapsedTimer timer;
    timer.start();
    const DnsOutcome outcome =
        DnsNameKeeper(target, {1}).publish(AddressFamily::Ipv4, "203.0.113.7", true);
    EXPECT_LT(timer.elapsed(), 10000); // one exchange's bound, with room for a slow machine
    close(fd);
    EXPECT_EQ(outcome.status, DnsOutcome::Status::Failed);
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.reason.toStdString(),
              ("cannot ask what home.example.test holds: no answer from " + server +
               " signed with key quendle within 1 seconds")
                  .toStdString());
}

} // namespace
