#include "dns/cloudflarebatch.h"
#include "dns/dnsnamekeeper.h"
#include "dns/providers/cloudflare.h"

#include "testknot.h"
#include "testproviderstandin.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

using Status = DnsOutcome::Status;

const QString kHome = QStringLiteral("home.example.test");

class ProviderTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(knot.running()) << knot.startError().toStdString(); }

    void start(const QString& kind, const QStringList& values)
    {
        standIn = std::make_unique<TestProviderStandIn>(kind, knot, values);
        ASSERT_TRUE(standIn->running()) << standIn->startError().toStdString();
    }

    void TearDown() override
    {
        if (standIn) {
            EXPECT_EQ(standIn->failures(), QStringList{}); // every request as the reference has it
        }
    }

    DnsOutcome publish(const DnsTargetSettings& settings, const QString& address, int seconds = 5)
    {
        const AddressFamily family =
            address.contains(':') ? AddressFamily::Ipv6 : AddressFamily::Ipv4;
        return DnsNameKeeper(settings, {seconds}).publish(family, address, true);
    }

    // What a name gets from a stand-in that hangs, answers a page of its own or 10 MB, or
    // accepts an update its servers do not serve: the name is left as it was, each said so.
    void expectBadAnswersFail(const DnsTargetSettings& settings, const QString& provider)
    {
        const QStringList before = knot.records(kHome, "A");
        standIn->answerWith("garbage");
        DnsOutcome outcome = publish(settings, "203.0.113.66");
        EXPECT_EQ(outcome.status, Status::Failed);
        EXPECT_TRUE(outcome.reason.startsWith(provider + " answered HTTP 200 with something "
                                                         "other than its JSON: \"<html><body>"))
            << outcome.reason.toStdString();
        standIn->answerWith("huge");
        outcome = publish(settings, "203.0.113.66");
        EXPECT_EQ(outcome.status, Status::Failed);
        EXPECT_EQ(outcome.reason, provider + " answered with more than 64 KB, which no answer "
                                             "of its API is: is api = the provider's API?");
        standIn->answerWith("hang");
        outcome = publish(settings, "203.0.113.66", 1);
        EXPECT_EQ(outcome.status, Status::Failed);
        EXPECT_TRUE(
            outcome.reason.startsWith("no answer from " + provider + ": Operation timed out after"))
            << outcome.reason.toStdString();
        standIn->answerWith("unserved");
        outcome = publish(settings, "203.0.113.66");
        EXPECT_EQ(outcome.status, Status::Failed);
        EXPECT_EQ(outcome.reason, "the provider accepted the update, but its servers do not "
                                  "serve it yet: home.example.test holds " +
                                      before.join(", ") + " at " + knot.server() + " (A record)");
        EXPECT_EQ(knot.records(kHome, "A"), before);
        standIn->answerNormally();
    }

    TestKnot knot;
    std::unique_ptr<TestProviderStandIn> standIn;
};

QJsonObject body(const QJsonObject& request)
{
    return QJsonDocument::fromJson(request["body"].toString().toUtf8()).object();
}

class CloudflareTest : public ProviderTest
{
protected:
    void SetUp() override
    {
        ProviderTest::SetUp();
        start("cloudflare", {"token=tok-en_1"});
    }

    DnsTargetSettings settings() const
    {
        DnsTargetSettings target;
        target.name = "home";
        target.protocol = DnsProtocol::Cloudflare;
        target.dnsName = kHome;
        target.token = "tok-en_1";
        target.api = standIn->api("/client/v4");
        target.verify = knot.server();
        return target;
    }

    WantedRecord wanted(const QString& name, AddressFamily family, const QString& address) const
    {
        DnsTargetSettings target = settings();
        target.dnsName = name;
        return WantedRecord{target, family, address, true};
    }

    // Sets fields of the provider's record of `name` and `type`.
    void editRecord(const QString& type, const QJsonObject& fields)
    {
        QJsonArray records = standIn->records();
        for (QJsonValueRef record : records) {
            QJsonObject object = record.toObject();
            if (object["type"] == type && object["name"] == kHome) {
                for (auto it = fields.begin(); it != fields.end(); ++it)
                    object[it.key()] = it.value();
                record = object;
            }
        }
        standIn->setRecords(records);
    }
};

TEST_F(CloudflareTest,
       UpdatesKeepingTheRecordsSettingsCreatesWhereMissingAndSendsNothingWhenCurrent)
{
    editRecord("A", {{"ttl", 300}, {"comment", "the router"}});
    DnsOutcome outcome = publish(settings(), "203.0.113.7");
    EXPECT_EQ(outcome.status, Status::Published) << outcome.reason.toStdString();
    EXPECT_EQ(outcome.reason, "home.example.test now holds 203.0.113.7 at " + knot.server());
    EXPECT_EQ(knot.records(kHome, "A"), QStringList{"203.0.113.7"});
    EXPECT_EQ(knot.records(kHome, "AAAA"), QStringList{"2001:db8::1"});
    QList<QJsonObject> seen = standIn->requests();
    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(seen[0]["method"], "GET");
    EXPECT_EQ(seen[0]["path"].toString() + "?" + seen[0]["query"].toString(),
              "/client/v4/zones?name=example.test");
    EXPECT_EQ(TestProviderStandIn::header(seen[0], "Authorization"), "Bearer tok-en_1");
    EXPECT_EQ(seen[1]["query"], "type=A&name=home.example.test");
    EXPECT_EQ(seen[2]["method"], "PATCH");
    EXPECT_EQ(seen[2]["body"], "{\"content\":\"203.0.113.7\"}");
    const QJsonObject kept = standIn->records()[0].toObject();
    EXPECT_EQ(kept["ttl"], 300);
    EXPECT_EQ(kept["comment"], "the router");

    // The address the servers hold sends nothing at all.
    standIn->forgetRequests();
    EXPECT_EQ(publish(settings(), "203.0.113.7").status, Status::AlreadyCurrent);
    EXPECT_TRUE(standIn->requests().isEmpty());

    // A name without a record of the family gets one: TTL 60 unless ttl = says otherwise.
    DnsTargetSettings fresh = settings();
    fresh.dnsName = "new.example.test";
    outcome = publish(fresh, "2001:db8::7");
    EXPECT_EQ(outcome.status, Status::Published) << outcome.reason.toStdString();
    EXPECT_EQ(knot.records("new.example.test", "AAAA"), QStringList{"2001:db8::7"});
    EXPECT_EQ(body(standIn->requests().last()), QJsonObject({{"type", "AAAA"},
                                                             {"name", "new.example.test"},
                                                             {"content", "2001:db8::7"},
                                                             {"ttl", 60},
                                                             {"proxied", false}}));

    // ttl = and proxied = are the section's word on a record that exists.
    DnsTargetSettings told = settings();
    told.ttlGiven = true;
    told.ttl = 120;
    told.proxied = false;
    EXPECT_EQ(publish(told, "203.0.113.8").status, Status::Published);
    EXPECT_EQ(body(standIn->requests().last()),
              QJsonObject({{"content", "203.0.113.8"}, {"ttl", 120}, {"proxied", false}}));
}

TEST_F(CloudflareTest, AProxiedRecordIsCheckedThroughTheApi)
{
    editRecord("A", {{"proxied", true}, {"content", "198.51.100.1"}});
    const DnsOutcome outcome = publish(settings(), "203.0.113.9");
    EXPECT_EQ(outcome.status, Status::Published) << outcome.reason.toStdString();
    EXPECT_EQ(outcome.reason,
              "Cloudflare's record of home.example.test holds 203.0.113.9; it is proxied, so "
              "Cloudflare's servers answer with addresses of their own");
    EXPECT_EQ(knot.records(kHome, "A"), QStringList{"192.0.2.200"});
    EXPECT_EQ(standIn->records()[0].toObject()["content"], "203.0.113.9");
    standIn->forgetRequests();
    // Within the quiet time after the update as after it: the record is looked at, not sent.
    DnsNameKeeper keeper(settings(), {5});
    for (const bool maySend : {true, false}) {
        const DnsOutcome again = keeper.publish(AddressFamily::Ipv4, "203.0.113.9", maySend);
        EXPECT_EQ(again.status, Status::AlreadyCurrent) << again.reason.toStdString();
        EXPECT_FALSE(again.sent);
    }
    const DnsOutcome quiet = keeper.publish(AddressFamily::Ipv4, "203.0.113.10", false);
    EXPECT_EQ(quiet.status, Status::Failed);
    EXPECT_EQ(quiet.reason, "home.example.test holds 192.0.2.200 at " + knot.server() +
                                ", but 203.0.113.10 went out for it less than 10 minutes ago; it "
                                "is not sent again before then");
    for (const QJsonObject& request : standIn->requests())
        EXPECT_EQ(request["method"], "GET");
    EXPECT_EQ(standIn->records()[0].toObject()["content"], "203.0.113.9");
}

TEST_F(CloudflareTest, RefusalsHoldTheNamePausesWaitAndBadAnswersFail)
{
    struct Row
    {
        QString token;
        QString answer; // the stand-in's switch
        Status status;
        QString reason;
        int retry;
    } rows[] = {
        {"wrong", "", Status::HeldUntilReload,
         "Cloudflare refused the token (9109 Invalid access token): make an API token with Zone "
         "DNS Edit permission, put it in token_file, then reload",
         0},
        {"not a token!", "", Status::HeldUntilReload,
         "Cloudflare cannot read the token (6003 Invalid request headers: 6111 Invalid format "
         "for Authorization header): token_file must hold the API token alone on one line, then "
         "reload",
         0},
        {"tok-en_1", "no-permission", Status::HeldUntilReload,
         "Cloudflare refused the token for this zone (10000 Authentication error): give the "
         "token Zone DNS Edit permission on the zone, then reload",
         0},
        {"tok-en_1", "rate", Status::RetryLater,
         "Cloudflare asks for a pause (HTTP 429): trying again in 7 s", 7},
    };
    for (const Row& row : rows) {
        if (row.answer.isEmpty())
            standIn->answerNormally();
        else
            standIn->answerWith(row.answer, "PATCH");
        DnsTargetSettings target = settings();
        target.token = row.token;
        const DnsOutcome outcome = publish(target, "203.0.113.10");
        EXPECT_EQ(outcome.status, row.status) << outcome.reason.toStdString();
        EXPECT_EQ(outcome.reason, row.reason);
        EXPECT_EQ(outcome.retryNotBefore, row.retry);
        EXPECT_EQ(knot.records(kHome, "A"), QStringList{"192.0.2.1"});
    }
    // A pause without a length grows while it is asked for again.
    standIn->answerWith("rate-unsaid");
    DnsNameKeeper keeper(settings(), {5});
    EXPECT_EQ(keeper.publish(AddressFamily::Ipv4, "203.0.113.10", true).retryNotBefore, 60);
    const DnsOutcome longer = keeper.publish(AddressFamily::Ipv4, "203.0.113.10", true);
    EXPECT_EQ(longer.retryNotBefore, 120);
    EXPECT_EQ(longer.reason, "Cloudflare asks for a pause (HTTP 429) without saying how long: "
                             "trying again in 120 s");
    expectBadAnswersFail(settings(), "Cloudflare");
    // Once the refusal is mended, the name goes on.
    EXPECT_EQ(publish(settings(), "203.0.113.10").status, Status::Published);
}

TEST_F(CloudflareTest, NamesOfOneZoneGoInOneBatchAndNothingIsSentWhenTheyAreCurrent)
{
    QList<WantedRecord> names = {wanted(kHome, AddressFamily::Ipv4, "203.0.113.1"),
                                 wanted("a.example.test", AddressFamily::Ipv4, "203.0.113.2"),
                                 wanted("b.example.test", AddressFamily::Ipv6, "2001:db8::b")};
    const QString key = cloudflareBatchKey(names[0].settings);
    EXPECT_EQ(key, cloudflareBatchKey(names[2].settings));
    EXPECT_FALSE(key.contains("tok-en_1"));
    DnsTargetSettings otherToken = settings();
    otherToken.token = "other";
    EXPECT_NE(key, cloudflareBatchKey(otherToken));

    CloudflareBatch batch({5});
    const QList<DnsOutcome> done = batch.publish(names);
    for (qsizetype i = 0; i < names.size(); ++i) {
        EXPECT_EQ(done[i].status, Status::Published) << done[i].reason.toStdString();
        EXPECT_EQ(done[i].reason, names[i].settings.dnsName + " now holds " + names[i].address +
                                      " at " + knot.server());
    }
    EXPECT_EQ(knot.records(kHome, "A"), QStringList{"203.0.113.1"});
    EXPECT_EQ(knot.records("a.example.test", "A"), QStringList{"203.0.113.2"});
    EXPECT_EQ(knot.records("b.example.test", "AAAA"), QStringList{"2001:db8::b"});
    QList<QJsonObject> seen = standIn->requests();
    ASSERT_EQ(seen.size(), 3); // the zone, the records, the batch
    EXPECT_EQ(seen[0]["query"], "name=example.test");
    EXPECT_EQ(seen[1]["query"], "page=1&per_page=50");
    const QJsonObject sent = body(seen[2]);
    EXPECT_EQ(seen[2]["path"],
              "/client/v4/zones/023e105f4ecef8ad9ca31a8372d0c353/dns_records/batch");
    EXPECT_EQ(sent["patches"].toArray().size(), 1);
    EXPECT_EQ(sent["posts"].toArray().size(), 2);
    EXPECT_FALSE(sent.contains("deletes"));

    // Within the quiet time, a name that must change is not sent; the others go.
    names[1].address = "203.0.113.22";
    names[1].maySend = false;
    names[2].address = "2001:db8::22";
    const QList<DnsOutcome> quiet = batch.publish(names);
    EXPECT_EQ(quiet[0].status, Status::AlreadyCurrent);
    EXPECT_EQ(quiet[1].status, Status::Failed);
    EXPECT_TRUE(quiet[1].reason.endsWith("less than 10 minutes ago; it is not sent again before "
                                         "then"))
        << quiet[1].reason.toStdString();
    EXPECT_EQ(quiet[2].status, Status::Published) << quiet[2].reason.toStdString();
    EXPECT_EQ(knot.records("a.example.test", "A"), QStringList{"203.0.113.2"});
    EXPECT_EQ(body(standIn->requests().last())["patches"].toArray().size(), 1);
    names[1].address = "203.0.113.2";
    names[1].maySend = true;
    standIn->forgetRequests();

    // Current: Cloudflare hears nothing.
    for (const DnsOutcome& outcome : batch.publish(names)) {
        EXPECT_EQ(outcome.status, Status::AlreadyCurrent) << outcome.reason.toStdString();
        EXPECT_FALSE(outcome.sent);
    }
    EXPECT_TRUE(standIn->requests().isEmpty());

    // A refused token is every name's, and none changes.
    for (WantedRecord& record : names) {
        record.settings.token = "wrong";
        record.address = record.family == AddressFamily::Ipv4 ? "203.0.113.9" : "2001:db8::9";
    }
    for (const DnsOutcome& outcome : CloudflareBatch({5}).publish(names)) {
        EXPECT_EQ(outcome.status, Status::HeldUntilReload);
        EXPECT_TRUE(outcome.reason.startsWith("Cloudflare refused the token (9109"))
            << outcome.reason.toStdString();
    }
    EXPECT_EQ(knot.records(kHome, "A"), QStringList{"203.0.113.1"});
}

TEST_F(CloudflareTest, AZoneOfManyRecordsIsListedPageByPage)
{
    QList<WantedRecord> names;
    for (int i = 0; i < 55; ++i)
        names << wanted(QStringLiteral("n%1.example.test").arg(i), AddressFamily::Ipv4,
                        "203.0.113.1");
    CloudflareBatch batch({5});
    for (const DnsOutcome& outcome : batch.publish(names))
        ASSERT_EQ(outcome.status, Status::Published) << outcome.reason.toStdString();
    for (WantedRecord& record : names)
        record.address = "203.0.113.2";
    for (const DnsOutcome& outcome : batch.publish(names))
        ASSERT_EQ(outcome.status, Status::Published) << outcome.reason.toStdString();
    const QJsonObject last = body(standIn->requests().last());
    EXPECT_EQ(last["patches"].toArray().size(), 55) << "every record found, on either page";
    EXPECT_FALSE(last.contains("posts"));
    EXPECT_EQ(knot.records("n54.example.test", "A"), QStringList{"203.0.113.2"});
}

class PorkbunTest : public ProviderTest
{
protected:
    void SetUp() override
    {
        ProviderTest::SetUp();
        start("porkbun", {"apikey=pk1_key", "secretapikey=sk1_secret"});
    }

    DnsTargetSettings settings() const
    {
        DnsTargetSettings target;
        target.name = "home";
        target.protocol = DnsProtocol::Porkbun;
        target.dnsName = kHome;
        target.apiKey = "pk1_key";
        target.secretKey = "sk1_secret";
        target.api = standIn->api("/api/json/v3");
        target.verify = knot.server();
        return target;
    }
};

TEST_F(PorkbunTest, RetrievesThenEditsOrCreatesAtOneRequestASecond)
{
    QJsonArray records = standIn->records();
    QJsonObject home = records[0].toObject();
    home["ttl"] = "900";
    records[0] = home;
    standIn->setRecords(records);
    DnsOutcome outcome = publish(settings(), "203.0.113.7");
    EXPECT_EQ(outcome.status, Status::Published) << outcome.reason.toStdString();
    EXPECT_EQ(knot.records(kHome, "A"), QStringList{"203.0.113.7"});
    QList<QJsonObject> seen = standIn->requests();
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0]["path"], "/api/json/v3/dns/retrieveByNameType/example.test/A/home");
    EXPECT_EQ(body(seen[0]), QJsonObject({{"apikey", "pk1_key"}, {"secretapikey", "sk1_secret"}}));
    EXPECT_EQ(seen[1]["path"], "/api/json/v3/dns/editByNameType/example.test/A/home");
    EXPECT_EQ(body(seen[1]), QJsonObject({{"apikey", "pk1_key"},
                                          {"secretapikey", "sk1_secret"},
                                          {"content", "203.0.113.7"},
                                          {"ttl", "900"}}));

    standIn->forgetRequests();
    EXPECT_EQ(publish(settings(), "203.0.113.7").status, Status::AlreadyCurrent);
    EXPECT_TRUE(standIn->requests().isEmpty());

    DnsTargetSettings fresh = settings();
    fresh.dnsName = "new.example.test";
    outcome = publish(fresh, "2001:db8::8");
    EXPECT_EQ(outcome.status, Status::Published) << outcome.reason.toStdString();
    EXPECT_EQ(knot.records("new.example.test", "AAAA"), QStringList{"2001:db8::8"});
    EXPECT_EQ(body(standIn->requests().last()), QJsonObject({{"apikey", "pk1_key"},
                                                             {"secretapikey", "sk1_secret"},
                                                             {"name", "new"},
                                                             {"type", "AAAA"},
                                                             {"content", "2001:db8::8"},
                                                             {"ttl", "600"}}));
}

TEST_F(PorkbunTest, RefusalsHoldTheNamePausesWaitAndBadAnswersFail)
{
    struct Row
    {
        QString answer;
        Status status;
        QString reason;
    } rows[] = {
        {"invalid-key", Status::HeldUntilReload,
         "Porkbun refused the API key (Invalid API key. (002)): check api_key_file and "
         "secret_key_file, then reload"},
        {"not-opted-in", Status::HeldUntilReload,
         "Porkbun refused the domain example.test (Domain is not opted in to API access.): turn "
         "on API ACCESS for it in Porkbun's domain management, then reload"},
        {"rate", Status::RetryLater,
         "Porkbun asks for a pause (HTTP 503) without saying how long: trying again in 60 s"},
    };
    for (const Row& row : rows) {
        standIn->answerWith(row.answer);
        const DnsOutcome outcome = publish(settings(), "203.0.113.10");
        EXPECT_EQ(outcome.status, row.status) << outcome.reason.toStdString();
        EXPECT_EQ(outcome.reason, row.reason);
    }
    standIn->answerNormally();
    DnsTargetSettings wrong = settings();
    wrong.secretKey = "sk1_wrong";
    EXPECT_EQ(publish(wrong, "203.0.113.10").status, Status::HeldUntilReload);
    expectBadAnswersFail(settings(), "Porkbun");
    EXPECT_EQ(knot.records(kHome, "A"), QStringList{"192.0.2.1"});
}

class HttpTemplateTest : public ProviderTest
{
protected:
    void SetUp() override
    {
        ProviderTest::SetUp();
        start("http", {"token=t0k"});
    }

    DnsTargetSettings settings() const
    {
        DnsTargetSettings target;
        target.name = "home";
        target.protocol = DnsProtocol::Http;
        target.dnsName = kHome;
        target.url = standIn->api("/update?host={name}&ip={address}");
        target.headers = {"Authorization: Bearer {token}"};
        target.token = "t0k";
        target.success = "/^ok: /";
        target.verify = knot.server();
        return target;
    }
};

TEST_F(HttpTemplateTest, FillsTheRequestInAndReadsTheAnswer)
{
    DnsOutcome outcome = publish(settings(), "2001:db8::9");
    EXPECT_EQ(outcome.status, Status::Published) << outcome.reason.toStdString();
    EXPECT_EQ(knot.records(kHome, "AAAA"), QStringList{"2001:db8::9"});
    EXPECT_EQ(standIn->requests()[0]["query"], "host=home.example.test&ip=2001%3Adb8%3A%3A9");
    standIn->forgetRequests();
    EXPECT_EQ(publish(settings(), "2001:db8::9").status, Status::AlreadyCurrent);
    EXPECT_TRUE(standIn->requests().isEmpty());

    DnsTargetSettings wrong = settings();
    wrong.token = "other";
    outcome = publish(wrong, "203.0.113.4");
    EXPECT_EQ(outcome.status, Status::HeldUntilReload);
    EXPECT_EQ(outcome.reason, "the provider refused the request (HTTP 403: bad token): check the "
                              "token and the section, then reload");
    standIn->answerWith("rate");
    outcome = publish(settings(), "203.0.113.4");
    EXPECT_EQ(outcome.status, Status::RetryLater);
    EXPECT_EQ(outcome.retryNotBefore, 5);
    standIn->answerWith("rate-date");
    outcome = publish(settings(), "203.0.113.4");
    EXPECT_EQ(outcome.status, Status::RetryLater);
    EXPECT_GE(outcome.retryNotBefore, 290);
    EXPECT_LE(outcome.retryNotBefore, 300);
    standIn->answerNormally();
    DnsTargetSettings unexpected = settings();
    unexpected.success = "updated";
    outcome = publish(unexpected, "203.0.113.4");
    EXPECT_EQ(outcome.status, Status::Failed);
    EXPECT_EQ(outcome.reason,
              "the provider's answer does not hold \"updated\": ok: home.example.test is "
              "203.0.113.4");
}

} // namespace
