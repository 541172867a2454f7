#include "page/pagetext.h"
#include "service/readback.h"
#include "service/targetpublisher.h"
#include "testcertificates.h"
#include "testftpserver.h"
#include "testwebserver.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

QByteArray pageFor(const QString& linkHost)
{
    return onlinePage(linkHost, QStringLiteral("me@example.org"), QStringLiteral("banner"));
}

TEST(LinkedAddresses, AreTheAddressesThePageLinksTo)
{
    struct Row
    {
        QByteArray page;
        QStringList expected;
    };
    const Row rows[] = {
        {pageFor("203.0.113.7"), {"203.0.113.7"}},
        {pageFor("[2001:DB8:0::1]"), {"2001:db8::1"}},
        {"<A HREF='http://198.51.100.4/x'>a</a><a href=\"http://198.51.100.4\">", {"198.51.100.4"}},
        {"<a href=\"http://www.example.org\"><a href=\"https://203.0.113.9\">", {}},
        {"<a href=\"http://203.0.113.7:8080\"> <a href=http://[::1]>", {"203.0.113.7", "::1"}},
        {"", {}},
        // As a browser reads the attribute: entities decoded, a user before the host.
        {"<a href=' http&#58;//u@203.0.113.7/'>", {"203.0.113.7"}},
        // What only looks like a link.
        {"<!-- <a href=\"http://203.0.113.7\"> --><a href=\"http://198.51.100.4\">",
         {"198.51.100.4"}},
        {"<script>// <a href=\"http://203.0.113.7\">\n</script>", {}},
        {"<script><!-- <a href=\"http://203.0.113.7\"> --></script>", {}},
        {"<script></html><a href=\"http://203.0.113.7\"></script>", {}},
        {"<img alt='<a href=\"http://203.0.113.7\">'><a title='href=http://203.0.113.7'>", {}},
        {"<style>a{} <a href=\"http://203.0.113.7\"></style>", {}},
        {"<title><a href=\"http://203.0.113.7\"></a></title>"
         "<textarea><a href=\"http://203.0.113.7\"></a></textarea>"
         "<noscript><a href=\"http://203.0.113.7\"></a></noscript>",
         {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(linkedAddresses(row.page), row.expected) << row.page.toStdString();
}

TEST(ReadBackWarning, SaysWhatThePageShows)
{
    ReadBack stale;
    stale.answered = true;
    stale.linked = QStringList{"198.51.100.4"};
    ReadBack empty;
    empty.answered = true;
    ReadBack unanswered;
    unanswered.reason = "the web server answered HTTP 404";
    const QString url = "https://www.example.org/quendle.htm";
    EXPECT_EQ(readBackWarning("/www/quendle.htm", url, stale),
              "uploaded to /www/quendle.htm, but https://www.example.org/quendle.htm still links "
              "to 198.51.100.4: another folder, or a cache?");
    EXPECT_EQ(readBackWarning("/www/quendle.htm", url, empty),
              "uploaded to /www/quendle.htm, but https://www.example.org/quendle.htm links to no "
              "address: another folder, or a cache?");
    EXPECT_EQ(readBackWarning("/www/quendle.htm", url, unanswered),
              "uploaded to /www/quendle.htm, but https://www.example.org/quendle.htm could not "
              "be read back: the web server answered HTTP 404");
}

// The web server serves the folder the FTP server writes to: what was uploaded is what it shows.
TEST(ReadBack, VerifiesThePageTheWebServerServes)
{
    TestFtpServer ftp;
    ASSERT_TRUE(ftp.running()) << ftp.startError().toStdString();
    ftp.makeDirectory("/www");
    TestWebServer web(ftp.localPath("/www"));
    ASSERT_TRUE(web.running()) << web.startError().toStdString();
    QTemporaryDir dir;
    QFile page(dir.filePath("quendle.htm"));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write(pageFor("203.0.113.7"));
    page.close();
    TargetSettings target;
    target.host = ftp.host();
    target.user = TestFtpServer::kUser;
    target.password = TestFtpServer::kPassword;
    target.directory = "/www";
    ASSERT_TRUE(TargetPublisher(target).publish(page.fileName()).uploaded());

    const QString url = web.url("/quendle.htm");
    const ReadBack result = readBack(url, {"203.0.113.7"}, pageFor("203.0.113.7"));
    EXPECT_TRUE(result.verified);
    EXPECT_EQ(result.matched, ReadBackMatch::Bytes);
    EXPECT_TRUE(result.answered);
    EXPECT_EQ(result.linked, QStringList{"203.0.113.7"});
    EXPECT_EQ(result.reason, "");
    EXPECT_EQ(readBackConfirmation(url, result), "verified at " + url + ": the bytes uploaded");
    ASSERT_EQ(web.requests().size(), 1);
    EXPECT_EQ(TestWebServer::header(web.requests()[0], "Cache-Control"), "no-cache");
    EXPECT_EQ(web.requests()[0].value("method").toString(), "GET");

    // Changed on the way (a server that adds a counter), but linking to the address.
    web.setFile("quendle.htm", pageFor("203.0.113.7") + "<!-- 42 visitors -->");
    const ReadBack changed = readBack(url, {"203.0.113.7"}, pageFor("203.0.113.7"));
    EXPECT_TRUE(changed.verified);
    EXPECT_EQ(changed.matched, ReadBackMatch::Link);
    EXPECT_EQ(readBackConfirmation(url, changed),
              "verified at " + url + ": another page, but it links to 203.0.113.7");
}

// A page whose only link leads elsewhere is not verified, wherever else the address appears.
TEST(ReadBack, OnlyARealLinkVerifiesAChangedPage)
{
    TestWebServer web;
    ASSERT_TRUE(web.running()) << web.startError().toStdString();
    const QByteArray elsewhere = pageFor("198.51.100.4");
    const QByteArray hidden[] = {
        "<!-- <a href=\"http://203.0.113.7\">here</a> -->",
        "<script>/* <a href=\"http://203.0.113.7\">here</a> */</script>",
        "<span title='<a href=\"http://203.0.113.7\">here</a>'></span>",
    };
    for (const QByteArray& text : hidden) {
        web.setFile("quendle.htm", elsewhere + text);
        const ReadBack result =
            readBack(web.url("/quendle.htm"), {"203.0.113.7"}, pageFor("203.0.113.7"));
        EXPECT_FALSE(result.verified) << text.toStdString();
        EXPECT_EQ(result.matched, ReadBackMatch::None);
        EXPECT_EQ(result.reason, "the page links to 198.51.100.4, not 203.0.113.7");
    }
}

// A copy the web server keeps apart from the uploaded file (a cache, another folder).
TEST(ReadBack, AStaleCopyIsNotVerifiedUntilTheNewPageIsServed)
{
    TestWebServer web;
    ASSERT_TRUE(web.running()) << web.startError().toStdString();
    web.setFile("quendle.htm", pageFor("198.51.100.4"));
    ReadBack result = readBack(web.url("/quendle.htm"), {"203.0.113.7"});
    EXPECT_FALSE(result.verified);
    EXPECT_TRUE(result.answered);
    EXPECT_EQ(result.linked, QStringList{"198.51.100.4"});
    EXPECT_EQ(result.reason, "the page links to 198.51.100.4, not 203.0.113.7");

    web.setFile("quendle.htm", pageFor("203.0.113.7"));
    result = readBack(web.url("/quendle.htm"), {"203.0.113.7"});
    EXPECT_TRUE(result.verified);
    EXPECT_EQ(result.reason, "");
}

TEST(ReadBack, SaysWhyThereIsNothingToCompare)
{
    TestWebServer web;
    ASSERT_TRUE(web.running()) << web.startError().toStdString();
    // The link lies past the bound: only the first bytes are read.
    web.setFile("long.htm", QByteArray(100, ' ') + pageFor("203.0.113.7"));
    const ReadBack missing = readBack(web.url("/missing.htm"), {"203.0.113.7"});
    EXPECT_FALSE(missing.verified);
    EXPECT_FALSE(missing.answered);
    EXPECT_EQ(missing.reason, "the web server answered HTTP 404");
    const ReadBack cut = readBack(web.url("/long.htm"), {"203.0.113.7"}, {}, {20, 64});
    EXPECT_FALSE(cut.verified);
    EXPECT_TRUE(cut.answered);
    EXPECT_EQ(cut.reason, "the page links to no address");
    const ReadBack refused =
        readBack(QStringLiteral("http://127.0.0.1:%1/").arg(freeLoopbackPort()), {"203.0.113.7"});
    EXPECT_FALSE(refused.answered);
    EXPECT_TRUE(refused.reason.startsWith("Failed to connect to 127.0.0.1 port"))
        << refused.reason.toStdString();
}

// Certificates are checked against the store SSL_CERT_FILE names, as for the targets.
TEST(ReadBack, OverHttpsTheCertificateIsVerified)
{
    const TestCertificates& certificates = TestCertificates::shared();
    ASSERT_TRUE(certificates.ok()) << certificates.error().toStdString();
    TestWebServer web({}, certificates.localhost().certificate, certificates.localhost().key);
    ASSERT_TRUE(web.running()) << web.startError().toStdString();
    web.setFile("quendle.htm", pageFor("203.0.113.7"));
    qputenv("SSL_CERT_FILE", QFile::encodeName(certificates.authority()));
    EXPECT_TRUE(readBack(web.url("/quendle.htm"), {"203.0.113.7"}).verified);
    qputenv("SSL_CERT_FILE", QFile::encodeName(certificates.unrelatedAuthority()));
    const ReadBack untrusted = readBack(web.url("/quendle.htm"), {"203.0.113.7"});
    qunsetenv("SSL_CERT_FILE");
    EXPECT_FALSE(untrusted.answered);
    EXPECT_TRUE(untrusted.reason.contains("certificate")) << untrusted.reason.toStdString();
    EXPECT_EQ(web.requests().size(), 1);
}

} // namespace
