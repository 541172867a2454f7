#include "dns/dnsnamekeeper.h"
#include "dns/dyndns2.h"

#include "testcertificates.h"
#include "testknot.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

using Status = DnsOutcome::Status;

const QString kName = QStringLiteral("home.example.test");

// A provider that follows the dyndns2 protocol and applies a good update to the Knot zone.
class Dyndns2Test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(knot.running()) << knot.startError().toStdString();
        const TestCertificates& certificates = TestCertificates::shared();
        ASSERT_TRUE(certificates.ok()) << certificates.error().toStdString();
        qputenv("SSL_CERT_FILE", certificates.authority().toUtf8());
        provider.start("/usr/bin/python3",
                       {"-u", QUENDLE_DYNDNS2_SCRIPT, certificates.localhost().certificate,
                        certificates.localhost().key, "alice", "pw s3cret",
                        QString::number(knot.port()), knot.secret(), dir.path()});
        ASSERT_TRUE(provider.waitForReadyRead(15000));
        const auto match =
            QRegularExpression("port (\\d+)").match(QString::fromLatin1(provider.readLine()));
        ASSERT_TRUE(match.hasMatch());
        port = match.captured(1).toInt();
    }

    void TearDown() override
    {
        provider.kill();
        provider.waitForFinished(5000);
        qunsetenv("SSL_CERT_FILE");
    }

    DnsTargetSettings settings() const
    {
        DnsTargetSettings target;
        target.name = "home";
        target.protocol = DnsProtocol::Dyndns2;
        target.dnsName = kName;
        target.url = QStringLiteral("https://127.0.0.1:%1/nic/update").arg(port);
        target.user = "alice";
        target.password = "pw s3cret";
        target.verify = knot.server();
        return target;
    }

    void answerWith(const QByteArray& word)
    {
        QFile file(dir.filePath("answer"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(word);
    }

    QList<QJsonObject> requests()
    {
        QFile file(dir.filePath("requests"));
        QList<QJsonObject> found;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& line : file.readAll().split('\n'))
                if (!line.isEmpty())
                    found << QJsonDocument::fromJson(line).object();
        return found;
    }

    TestKnot knot;
    QTemporaryDir dir;
    QProcess provider;
    int port = 0;
};

TEST_F(Dyndns2Test, EachAnswerOfTheProtocolIsReadAsItMeans)
{
    struct Row
    {
        QByteArray answer;
        QString password;
        Status status;
        QString reason;
    } rows[] = {
        {"good", "pw s3cret", Status::Published, "home.example.test now holds %1 at %2"},
        {"nochg", "pw s3cret", Status::Published, "home.example.test now holds %1 at %2"},
        {"good", "wrong", Status::HeldUntilReload,
         "the provider refused the user name or password (badauth): correct user and password, "
         "then reload"},
        {"badauth", "pw s3cret", Status::HeldUntilReload,
         "the provider refused the user name or password (badauth): correct user and password, "
         "then reload"},
        {"nohost", "pw s3cret", Status::HeldUntilReload,
         "the provider has no host name home.example.test in this account (nohost): correct "
         "hostname or create it at the provider, then reload"},
        {"notfqdn", "pw s3cret", Status::HeldUntilReload,
         "home.example.test is not a fully qualified domain name (notfqdn): set hostname to the "
         "whole name, then reload"},
        {"badagent", "pw s3cret", Status::HeldUntilReload,
         "the provider blocks this program (badagent): ask the provider, then reload"},
        {"abuse", "pw s3cret", Status::HeldUntilReload,
         "the provider blocked home.example.test for too many updates (abuse): unblock it at the "
         "provider, then reload"},
        {"!donator", "pw s3cret", Status::HeldUntilReload,
         "the provider offers this update to paying accounts only (!donator): change the account "
         "or the settings, then reload"},
        {"numhost", "pw s3cret", Status::HeldUntilReload,
         "the provider counted too many host names (numhost): give one name in hostname, then "
         "reload"},
        {"911", "pw s3cret", Status::RetryLater,
         "the provider has trouble of its own (911): trying again in 30 minutes"},
        {"dnserr", "pw s3cret", Status::RetryLater,
         "the provider's DNS failed (dnserr): trying again in 30 minutes"},
        {"what?", "pw s3cret", Status::Failed,
         "the provider's answer is not one of the protocol's"},
    };
    int n = 0;
    for (const Row& row : rows) {
        const QString address = QStringLiteral("203.0.113.%1").arg(++n);
        const QStringList before = knot.records(kName, "A");
        answerWith(row.answer);
        DnsTargetSettings target = settings();
        target.password = row.password;
        const DnsOutcome outcome =
            DnsNameKeeper(target, {5}).publish(AddressFamily::Ipv4, address, true);
        const std::string shown = row.answer.toStdString() + ": " + outcome.reason.toStdString();
        EXPECT_EQ(outcome.status, row.status) << shown;
        EXPECT_TRUE(outcome.sent) << shown;
        const bool applied = row.status == Status::Published;
        EXPECT_EQ(outcome.reason, applied ? row.reason.arg(address, knot.server()) : row.reason)
            << shown;
        EXPECT_EQ(outcome.retryNotBefore, row.status == Status::RetryLater ? 1800 : 0) << shown;
        EXPECT_EQ(knot.records(kName, "A"), applied ? QStringList{address} : before) << shown;
        EXPECT_EQ(outcome.held, applied ? QStringList{address} : before) << shown;
        EXPECT_FALSE((outcome.reason + outcome.details).contains("s3cret")) << shown;
    }
    // What reached the provider: one request a row, as the protocol has it.
    const QList<QJsonObject> seen = requests();
    ASSERT_EQ(seen.size(), n);
    EXPECT_EQ(seen[0]["path"].toString(), "/nic/update");
    EXPECT_EQ(seen[0]["query"].toString(), "hostname=home.example.test&myip=203.0.113.1");
    EXPECT_EQ(seen[0]["agent"].toString(), "quendle-publish/1.0");
    EXPECT_TRUE(seen[0]["authorized"].toBool());
    EXPECT_FALSE(seen[2]["authorized"].toBool());
    EXPECT_EQ(knot.records(kName, "AAAA"), QStringList{"2001:db8::1"});

    // The address the name holds is not sent again; a provider nobody vouches for gets nothing.
    const DnsOutcome same =
        DnsNameKeeper(settings(), {5}).publish(AddressFamily::Ipv4, "203.0.113.2", true);
    EXPECT_EQ(same.status, Status::AlreadyCurrent);
    qputenv("SSL_CERT_FILE", TestCertificates::shared().unrelatedAuthority().toUtf8());
    const DnsOutcome untrusted =
        DnsNameKeeper(settings(), {5}).publish(AddressFamily::Ipv4, "203.0.113.99", true);
    EXPECT_EQ(untrusted.status, Status::Failed);
    EXPECT_TRUE(untrusted.reason.startsWith("cannot reach the provider: SSL certificate problem"))
        << untrusted.reason.toStdString();
    EXPECT_EQ(requests().size(), n);
}

TEST_F(Dyndns2Test, DualSendsTheOtherFamilysAddressAlong)
{
    DnsTargetSettings target = settings();
    target.dual = true;
    DnsNameKeeper keeper(target, {5});
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv4, "203.0.113.5", true).status, Status::Published);
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv6, "2001:db8::5", true).status, Status::Published);
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv4, "203.0.113.5", true).status,
              Status::AlreadyCurrent);
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv6, "2001:db8::6", true).status, Status::Published);
    EXPECT_EQ(knot.records(kName, "A"), QStringList{"203.0.113.5"});
    EXPECT_EQ(knot.records(kName, "AAAA"), QStringList{"2001:db8::6"});
    // A round that moves both families, told first, goes in one request.
    keeper.expect(AddressFamily::Ipv4, "203.0.113.9");
    keeper.expect(AddressFamily::Ipv6, "2001:db8::9");
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv4, "203.0.113.9", true).status, Status::Published);
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv6, "2001:db8::9", true).status,
              Status::AlreadyCurrent);
    // Without dual, each family goes alone.
    EXPECT_EQ(
        DnsNameKeeper(settings(), {5}).publish(AddressFamily::Ipv6, "2001:db8::7", true).status,
        Status::Published);
    QStringList queries;
    for (const QJsonObject& request : requests())
        queries << request["query"].toString();
    EXPECT_EQ(queries, (QStringList{"hostname=home.example.test&myip=203.0.113.5",
                                    "hostname=home.example.test&myip=203.0.113.5,2001:db8::5",
                                    "hostname=home.example.test&myip=203.0.113.5,2001:db8::6",
                                    "hostname=home.example.test&myip=203.0.113.9,2001:db8::9",
                                    "hostname=home.example.test&myip=2001:db8::7"}));
}

// An answer outside the protocol says its status once, and the body's first line if any.
TEST(Dyndns2Answer, AnotherHttpStatusIsNamedOnce)
{
    const dns::Dyndns2Answer moved = dns::readDyndns2Answer(302, "", "h.example.net");
    EXPECT_EQ(moved.reason.toStdString(), "the provider answered HTTP 302");
    EXPECT_EQ(moved.details.toStdString(), "");
    const dns::Dyndns2Answer broken = dns::readDyndns2Answer(500, "oops\nmore", "h.example.net");
    EXPECT_EQ(broken.reason.toStdString(), "the provider answered HTTP 500");
    EXPECT_EQ(broken.details.toStdString(), "oops");
    EXPECT_EQ(dns::readDyndns2Answer(200, "", "h").details.toStdString(), "HTTP 200");
}

} // namespace
