#include "dns/dnsnamekeeper.h"

#include "testknot.h"
#include "testproviderstandin.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

using Status = DnsOutcome::Status;

const QString kName = QStringLiteral("home.example.test");

// DuckDNS, Hetzner, deSEC and Namecheap, each against its stand-in, which applies what it takes
// to the Knot zone that the keeper asks before and after.
class ProvidersTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(knot.running()) << knot.startError().toStdString(); }

    DnsTargetSettings settings(DnsProtocol protocol, const TestProviderStandIn& standIn) const
    {
        DnsTargetSettings target;
        target.name = QStringLiteral("home");
        target.protocol = protocol;
        target.dnsName = kName;
        target.api = standIn.api(protocol == DnsProtocol::Hetzner ? "/v1" : "");
        target.token = QStringLiteral("t0ken");
        target.password = QStringLiteral("pa55");
        target.verify = knot.server();
        if (protocol == DnsProtocol::Duckdns)
            target.zone = QStringLiteral("example.test"); // in place of duckdns.org
        return target;
    }

    QString now(const QString& address) const
    {
        return QStringLiteral("home.example.test now holds %1 at %2").arg(address, knot.server());
    }

    static QStringList queries(const TestProviderStandIn& standIn)
    {
        QStringList found;
        for (const QJsonObject& request : standIn.requests())
            found << request["method"].toString() + ' ' + request["path"].toString() + '?' +
                         request["query"].toString();
        return found;
    }

    TestKnot knot;
};

TEST_F(ProvidersTest, DuckdnsSetsEachFamilyWithItsOwnField)
{
    TestProviderStandIn duck(QStringLiteral("duckdns"), knot, {QStringLiteral("token=t0ken")});
    ASSERT_TRUE(duck.running()) << duck.startError().toStdString();
    DnsNameKeeper keeper(settings(DnsProtocol::Duckdns, duck), {5});
    const DnsOutcome v4 = keeper.publish(AddressFamily::Ipv4, "203.0.113.7", true);
    EXPECT_EQ(v4.status, Status::Published) << v4.reason.toStdString();
    EXPECT_EQ(v4.reason, now("203.0.113.7"));
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv6, "2001:db8::7", true).status, Status::Published);
    EXPECT_EQ(knot.records(kName, "A"), QStringList{"203.0.113.7"});
    EXPECT_EQ(knot.records(kName, "AAAA"), QStringList{"2001:db8::7"});
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv4, "203.0.113.7", true).status,
              Status::AlreadyCurrent);
    EXPECT_EQ(queries(duck),
              (QStringList{"GET /update?domains=home&token=t0ken&ip=203.0.113.7&verbose=true",
                           "GET /update?domains=home&token=t0ken&ipv6=2001:db8::7&verbose=true"}));
    EXPECT_EQ(duck.failures(), QStringList());
}

TEST_F(ProvidersTest, HetznerSetsTheRrsetOrCreatesItKeepingWhatTheUserSet)
{
    TestProviderStandIn hetzner(QStringLiteral("hetzner"), knot, {QStringLiteral("token=t0ken")});
    ASSERT_TRUE(hetzner.running()) << hetzner.startError().toStdString();
    // The zone is found from the SOA the authoritative server answers with.
    DnsNameKeeper keeper(settings(DnsProtocol::Hetzner, hetzner), {5});
    const DnsOutcome set = keeper.publish(AddressFamily::Ipv4, "203.0.113.7", true);
    EXPECT_EQ(set.status, Status::Published) << set.reason.toStdString();
    EXPECT_EQ(knot.records(kName, "A"), QStringList{"203.0.113.7"});
    QList<QJsonObject> seen = hetzner.requests();
    ASSERT_EQ(seen.size(), 3); // and the action, asked after once
    EXPECT_EQ(seen[0]["method"].toString() + ' ' + seen[0]["path"].toString(),
              "GET /v1/zones/example.test/rrsets/home/A");
    EXPECT_EQ(seen[1]["path"].toString(),
              "/v1/zones/example.test/rrsets/home/A/actions/set_records");
    // The record's comment goes with the new address; the TTL stays the RRSet's.
    EXPECT_EQ(seen[1]["body"].toString(),
              R"({"records":[{"comment":"by hand","value":"203.0.113.7"}]})");
    EXPECT_EQ(TestProviderStandIn::header(seen[1], "Authorization"), "Bearer t0ken");

    // ttl = given: the RRSet takes it after its records; the action is asked after until done.
    hetzner.forgetRequests();
    hetzner.answerWith(QStringLiteral("slow_action"));
    DnsTargetSettings ttl = settings(DnsProtocol::Hetzner, hetzner);
    ttl.ttl = 600;
    ttl.ttlGiven = true;
    EXPECT_EQ(DnsNameKeeper(ttl, {5}).publish(AddressFamily::Ipv6, "2001:db8::7", true).status,
              Status::Published);
    EXPECT_EQ(queries(hetzner),
              (QStringList{"GET /v1/zones/example.test/rrsets/home/AAAA?",
                           "POST /v1/zones/example.test/rrsets/home/AAAA/actions/set_records?",
                           "GET /v1/actions/102?", "GET /v1/actions/102?",
                           "POST /v1/zones/example.test/rrsets/home/AAAA/actions/change_ttl?",
                           "GET /v1/actions/103?", "GET /v1/actions/103?"}));
    EXPECT_EQ(hetzner.requests()[4]["body"].toString(), R"({"ttl":600})");
    int aaaa = 0;
    for (const QJsonValue record : hetzner.records())
        if (record["type"] == "AAAA") {
            ++aaaa;
            EXPECT_EQ(record["ttl"].toInt(), 600);
        }
    EXPECT_EQ(aaaa, 1);
    EXPECT_EQ(knot.records(kName, "AAAA"), QStringList{"2001:db8::7"});

    // A name without an RRSet gets one; an action that fails is said.
    hetzner.answerNormally();
    hetzner.forgetRequests();
    DnsTargetSettings fresh = settings(DnsProtocol::Hetzner, hetzner);
    fresh.dnsName = "new.example.test";
    // zone = is the section's word, not the server's: a name outside it is held, nothing sent.
    fresh.zone = "other.test";
    const DnsOutcome outside =
        DnsNameKeeper(fresh, {5}).publish(AddressFamily::Ipv6, "2001:db8::9", true);
    EXPECT_EQ(outside.status, Status::HeldUntilReload);
    EXPECT_EQ(outside.reason,
              "new.example.test is not in the zone other.test: correct name or zone, then reload");
    EXPECT_TRUE(hetzner.requests().isEmpty());
    fresh.zone = "example.test";
    const DnsOutcome created =
        DnsNameKeeper(fresh, {5}).publish(AddressFamily::Ipv6, "2001:db8::9", true);
    EXPECT_EQ(created.status, Status::Published) << created.reason.toStdString();
    EXPECT_EQ(knot.records("new.example.test", "AAAA"), QStringList{"2001:db8::9"});
    seen = hetzner.requests();
    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(seen[1]["path"].toString(), "/v1/zones/example.test/rrsets");
    EXPECT_EQ(seen[1]["body"].toString(),
              R"({"name":"new","records":[{"value":"2001:db8::9"}],"type":"AAAA"})");
    hetzner.answerWith(QStringLiteral("action_error"));
    const DnsOutcome failed = keeper.publish(AddressFamily::Ipv4, "203.0.113.8", true);
    EXPECT_EQ(failed.status, Status::Failed);
    EXPECT_EQ(failed.reason,
              "Hetzner's action 105 ended in error (action_failed: the zone could not be changed)");
    EXPECT_EQ(hetzner.failures(), QStringList());
}

TEST_F(ProvidersTest, DesecPreservesTheFamilyNotSent)
{
    TestProviderStandIn desec(QStringLiteral("desec"), knot, {QStringLiteral("token=t0ken")});
    ASSERT_TRUE(desec.running()) << desec.startError().toStdString();
    DnsNameKeeper keeper(settings(DnsProtocol::Desec, desec), {5});
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv4, "203.0.113.7", true).reason, now("203.0.113.7"));
    EXPECT_EQ(knot.records(kName, "AAAA"), QStringList{"2001:db8::1"});
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv6, "2001:db8::7", true).status, Status::Published);
    EXPECT_EQ(knot.records(kName, "A"), QStringList{"203.0.113.7"});
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv6, "2001:db8::7", true).status,
              Status::AlreadyCurrent);
    EXPECT_EQ(
        queries(desec),
        (QStringList{"GET /update?hostname=home.example.test&myipv4=203.0.113.7&myipv6=preserve",
                     "GET /update?hostname=home.example.test&myipv4=preserve&myipv6=2001:db8::7"}));
    EXPECT_EQ(TestProviderStandIn::header(desec.requests()[0], "Authorization"), "Token t0ken");

    DnsTargetSettings other = settings(DnsProtocol::Desec, desec);
    other.dnsName = "other.example.test";
    const DnsOutcome unknown =
        DnsNameKeeper(other, {5}).publish(AddressFamily::Ipv4, "203.0.113.7", true);
    EXPECT_EQ(unknown.status, Status::HeldUntilReload);
    EXPECT_EQ(unknown.reason, "deSEC has no name other.example.test in this token's account (HTTP "
                              "404: Not found.): correct name or add it at deSEC, then reload");
    EXPECT_EQ(desec.failures(), QStringList());
}

TEST_F(ProvidersTest, NamecheapUpdatesAnExistingARecordOnly)
{
    TestProviderStandIn namecheap(QStringLiteral("namecheap"), knot,
                                  {QStringLiteral("password=pa55")});
    ASSERT_TRUE(namecheap.running()) << namecheap.startError().toStdString();
    DnsNameKeeper keeper(settings(DnsProtocol::Namecheap, namecheap), {5});
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv4, "203.0.113.7", true).reason, now("203.0.113.7"));
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv4, "203.0.113.7", true).status,
              Status::AlreadyCurrent);
    const DnsOutcome v6 = keeper.publish(AddressFamily::Ipv6, "2001:db8::7", true);
    EXPECT_EQ(v6.status, Status::Failed);
    EXPECT_FALSE(v6.sent);
    EXPECT_EQ(v6.reason, "Namecheap's dynamic DNS takes IPv4 addresses only: the AAAA record of "
                         "home.example.test is not changed; keep it with another protocol, or "
                         "publish IPv4 only");
    EXPECT_EQ(knot.records(kName, "AAAA"), QStringList{"2001:db8::1"});
    EXPECT_EQ(
        queries(namecheap),
        QStringList{"GET /update?host=home&domain=example.test&password=pa55&ip=203.0.113.7"});

    DnsTargetSettings fresh = settings(DnsProtocol::Namecheap, namecheap);
    fresh.dnsName = "new.example.test";
    const DnsOutcome missing =
        DnsNameKeeper(fresh, {5}).publish(AddressFamily::Ipv4, "203.0.113.7", true);
    EXPECT_EQ(missing.status, Status::HeldUntilReload);
    EXPECT_EQ(missing.reason, "Namecheap has no A + Dynamic DNS record for new in example.test (No "
                              "Records updated. A record not Found;): add one at Namecheap "
                              "(Advanced DNS), then reload");
    EXPECT_EQ(namecheap.failures(), QStringList());
}

// What each stand-in answers when the credential is wrong, the rate is limited, or the answer is
// none of the API's; the zone is never changed.
TEST_F(ProvidersTest, RefusalsPausesAndAnswersOfNoUse)
{
    const QString huge =
        QStringLiteral(" answered with more than 64 KB, which no answer of its API "
                       "is: is api = the provider's API?");
    const QString garbage = QStringLiteral("<html><body>Welcome to nginx!</body></html>");
    struct Provider
    {
        const char* kind;
        DnsProtocol protocol;
        QString shown; // as the messages name it
        QString refused;
        int pause; // seconds asked for by the rate answer
        QString notApi;
    } providers[] = {
        {"duckdns", DnsProtocol::Duckdns, "DuckDNS",
         "DuckDNS refused the update (KO, which it answers without a reason: most often the token "
         "is not the account's, or home is not one of the account's domains): check token_file "
         "and the name at duckdns.org, then reload",
         90, "DuckDNS answered HTTP 200 with neither OK nor KO: \"" + garbage + "\""},
        {"hetzner", DnsProtocol::Hetzner, "Hetzner",
         "Hetzner refused the API token (unauthorized: unable to authenticate): put a token of the "
         "Cloud project that holds example.test in token_file, then reload",
         75, "Hetzner answered HTTP 200 with something other than its JSON: \"" + garbage + "\""},
        {"desec", DnsProtocol::Desec, "deSEC",
         "deSEC refused the token (HTTP 401: Invalid token.): put a token of the account that "
         "holds home.example.test in token_file, then reload",
         60, "deSEC answered HTTP 200, not \"good\": \"" + garbage + "\""},
        {"namecheap", DnsProtocol::Namecheap, "Namecheap",
         "Namecheap refused the password (Passwords do not match): put the domain's Dynamic DNS "
         "password (Advanced DNS, Dynamic DNS) in password_file, then reload",
         120,
         "Namecheap answered HTTP 200 with something other than its interface-response: \"" +
             garbage + "\""},
    };
    for (const Provider& provider : providers) {
        TestProviderStandIn standIn(
            QLatin1String(provider.kind), knot,
            {QStringLiteral("token=t0ken"), QStringLiteral("password=pa55")});
        ASSERT_TRUE(standIn.running()) << standIn.startError().toStdString();
        const auto publish = [&](const QString& answer, bool rightSecret = true, int bound = 5) {
            if (answer.isEmpty())
                standIn.answerNormally();
            else
                standIn.answerWith(answer);
            DnsTargetSettings target = settings(provider.protocol, standIn);
            if (!rightSecret)
                target.token = target.password = QStringLiteral("wrong");
            return DnsNameKeeper(target, {bound}).publish(AddressFamily::Ipv4, "203.0.113.9", true);
        };
        const std::string kind = provider.kind;
        const DnsOutcome refused = publish({}, false);
        EXPECT_EQ(refused.status, Status::HeldUntilReload) << kind;
        EXPECT_EQ(refused.reason, provider.refused) << kind;
        EXPECT_FALSE((refused.reason + refused.details).contains("wrong")) << kind;
        const DnsOutcome rate = publish(QStringLiteral("rate"));
        EXPECT_EQ(rate.status, Status::RetryLater) << kind;
        EXPECT_NEAR(rate.retryNotBefore, provider.pause, 2) << kind;
        EXPECT_EQ(rate.reason,
                  provider.protocol == DnsProtocol::Hetzner
                      ? QStringLiteral("Hetzner's rate limit is reached (HTTP 429): trying again "
                                       "in %1 s")
                            .arg(rate.retryNotBefore)
                      : QStringLiteral("%1 asks for a pause (HTTP 429): trying again in %2 s")
                            .arg(provider.shown)
                            .arg(provider.pause))
            << kind;
        const DnsOutcome notApi = publish(QStringLiteral("garbage"));
        EXPECT_EQ(notApi.status, Status::Failed) << kind;
        EXPECT_EQ(notApi.reason, provider.notApi) << kind;
        const DnsOutcome tooLong = publish(QStringLiteral("huge"));
        EXPECT_EQ(tooLong.status, Status::Failed) << kind;
        EXPECT_EQ(tooLong.reason, provider.shown + huge) << kind;
        const DnsOutcome hang = publish(QStringLiteral("hang"), true, 2);
        EXPECT_EQ(hang.status, Status::Failed) << kind;
        EXPECT_TRUE(hang.reason.startsWith("no answer from " + provider.shown +
                                           ": Operation timed out after"))
            << kind << ": " << hang.reason.toStdString();
        EXPECT_EQ(knot.records(kName, "A"), QStringList{"192.0.2.1"}) << kind;
        EXPECT_EQ(standIn.failures(), QStringList()) << kind;
    }
}

} // namespace
