#include "service/notification.h"
#include "service/statusreport.h"
#include "testwebserver.h"

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

TEST(Notification, PostsOneLineWithTheToken)
{
    TestWebServer web;
    ASSERT_TRUE(web.running()) << web.startError().toStdString();
    web.setPostAnswer(200, "{\"id\":\"a1\",\"echo\":\"Bearer t0ken\"}\n");
    const NotifySettings settings{web.url("/alice-quendle"), "t0ken"};
    const QString line = addressChangedMessage(AddressFamily::Ipv4, "198.51.100.4", "203.0.113.7");
    const NotifyResult result = sendNotification(settings, line);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.answer, "{\"id\":\"a1\",\"echo\":\"Bearer (token)\"}");
    EXPECT_EQ(result.error, "");
    ASSERT_EQ(web.requests().size(), 1);
    const QJsonObject request = web.requests()[0];
    EXPECT_EQ(request.value("method").toString(), "POST");
    EXPECT_EQ(request.value("path").toString(), "/alice-quendle");
    EXPECT_EQ(request.value("body").toString(),
              "IPv4 address changed from 198.51.100.4 to 203.0.113.7");
    EXPECT_EQ(TestWebServer::header(request, "Authorization"), "Bearer t0ken");
    EXPECT_EQ(TestWebServer::header(request, "Content-Type"), "text/plain; charset=utf-8");
}

TEST(Notification, AServerErrorIsNotDelivered)
{
    TestWebServer web;
    ASSERT_TRUE(web.running()) << web.startError().toStdString();
    web.setPostAnswer(500, "broken\r\n\x1b[2J");
    const NotifyResult result =
        sendNotification({web.url("/hook"), {}}, targetWorksAgainMessage("home"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, 500);
    EXPECT_EQ(result.answer, "broken\\x0d\\x0a\\x1b[2J");
    EXPECT_EQ(result.error, "the server answered HTTP 500");
    ASSERT_EQ(web.requests().size(), 1);
    EXPECT_EQ(web.requests()[0].value("body").toString(), "target home works again");
    EXPECT_EQ(TestWebServer::header(web.requests()[0], "Authorization"), "");
}

TEST(Notification, Messages)
{
    EXPECT_EQ(addressChangedMessage(AddressFamily::Ipv6, "", "2001:db8::1"),
              "IPv6 address is 2001:db8::1");
    EXPECT_EQ(targetFailingMessage("home", 3, "Login refused"),
              "target home failed 3 times in a row: Login refused");
}

TEST(RoundSummary, CountsCurrentTargetsAndVerification)
{
    using Result = PublisherState::Result;
    using Verification = PublisherState::Verification;
    const PublisherState::Target verified{"a", {}, Result::Uploaded, {}, Verification::Verified,
                                          {}};
    const PublisherState::Target unchecked{"b", {}, Result::Uploaded, {}, Verification::NotChecked,
                                           {}};
    const PublisherState::Target stale{"c", {}, Result::Uploaded, {}, Verification::Unverified, {}};
    const PublisherState::Target failed{"d", {}, Result::Failed, {}, Verification::NotChecked, {}};
    const PublisherState::Family v4{"ipv4", "203.0.113.7", "web", {}};
    const PublisherState::Family v6{"ipv6", "2001:db8::1", "interface", {}};
    struct Row
    {
        QList<PublisherState::Family> families;
        QList<PublisherState::Target> targets;
        QString expected;
    };
    const Row rows[] = {
        {{v4}, {verified, verified}, "203.0.113.7 on 2 of 2 targets, verified"},
        {{v4}, {unchecked}, "203.0.113.7 on 1 of 1 target"},
        {{v4, v6}, {verified, failed}, "203.0.113.7 and 2001:db8::1 on 1 of 2 targets, verified"},
        {{v4}, {verified, stale, failed}, "203.0.113.7 on 1 of 3 targets, 1 not verified"},
        {{{"ipv4", "", "", {}}}, {failed}, "no address found"},
    };
    for (const Row& row : rows) {
        PublisherState state;
        state.families = row.families;
        state.targets = row.targets;
        EXPECT_EQ(roundSummary(state), row.expected);
    }
}

} // namespace
