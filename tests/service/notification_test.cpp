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
        sendNotification({web.url("/hook"), {}}, targetWorksAgainMessage("page home"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, 500);
    EXPECT_EQ(result.answer, "broken\\x0d\\x0a\\x1b[2J");
    EXPECT_EQ(result.error, "the server answered HTTP 500");
    ASSERT_EQ(web.requests().size(), 1);
    EXPECT_EQ(web.requests()[0].value("body").toString(), "page home works again");
    EXPECT_EQ(TestWebServer::header(web.requests()[0], "Authorization"), "");
}

TEST(Notification, Messages)
{
    EXPECT_EQ(addressChangedMessage(AddressFamily::Ipv6, "", "2001:db8::1"),
              "IPv6 address is 2001:db8::1");
    EXPECT_EQ(targetFailingMessage("dns home", 3, "Login refused"),
              "dns home failed 3 times in a row: Login refused");
}

TEST(RoundSummary, CountsCurrentPagesAndNamesApart)
{
    using Target = PublisherState::Target;
    const Target current{TargetKind::Page, "a", Standing::Current, {}, {}, {}};
    const Target unseen{TargetKind::Page, "b", Standing::Unverified, "still 81.2.69.1", {}, {}};
    const Target failed{TargetKind::Page, "c", Standing::Failed, "Login refused", {}, {}};
    const Target name{TargetKind::Name, "a", Standing::Current, {}, {}, {}};
    const PublisherState::Family v4{"ipv4", "203.0.113.7", "web", {}};
    const PublisherState::Family v6{"ipv6", "2001:db8::1", "interface", {}};
    struct Row
    {
        QList<PublisherState::Family> families;
        QList<Target> targets;
        QString expected;
    };
    const Row rows[] = {
        {{v4}, {current, name}, "203.0.113.7: 1 of 1 pages, 1 of 1 names current"},
        {{v4, v6}, {current, unseen, failed}, "203.0.113.7 and 2001:db8::1: 1 of 3 pages current"},
        {{v4}, {name}, "203.0.113.7: 1 of 1 names current"},
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
