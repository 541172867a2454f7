#include "page/pagetext.h"
#include "page/productsettings.h"
#include "publisherfixture.h"
#include "testhttpecho.h"
#include "testwebserver.h"

using namespace quendle;
using namespace quendle::testing;

namespace {

// `once` reads the page back where visitors fetch it: from the folder the FTP server writes to,
// and from a copy the web server keeps apart.
TEST_F(PublisherFixture, OnceExitsOneWhileThePageVisitorsSeeIsStale)
{
    TestFtpServer ftp;
    TestHttpEcho echo;
    ASSERT_TRUE(ftp.running()) << ftp.startError().toStdString();
    ASSERT_TRUE(echo.running()) << echo.startError().toStdString();
    ftp.makeDirectory("/www");
    echo.setAnswer("11.22.33.44\n");
    TestWebServer live(ftp.localPath("/www"));
    TestWebServer stale;
    ASSERT_TRUE(live.running() && stale.running());
    stale.setFile("quendle.htm", onlinePage("198.51.100.4", "", defaultBanner()));
    const QByteArray address = "[address]\nsources = web\nweb = " + echo.url().toUtf8() + "\n";
    const QByteArray liveUrl = live.url("/quendle.htm").toUtf8();
    const QByteArray staleUrl = stale.url("/quendle.htm").toUtf8();

    writeConfig(address, targetFor("home", ftp.host()) + "url = " + liveUrl + "\n", "");
    const Run verified = run({"once"});
    EXPECT_EQ(verified.exitCode, 0) << verified.err.toStdString();
    EXPECT_TRUE(
        verified.err.contains(" page home: verified at " + liveUrl + ": the bytes uploaded\n"))
        << verified.err.toStdString();

    writeConfig(address, targetFor("home", ftp.host()) + "url = " + staleUrl + "\n", "");
    const Run unverified = run({"once"});
    EXPECT_EQ(unverified.exitCode, 1);
    EXPECT_TRUE(unverified.err.contains(" page home: uploaded to /www/quendle.htm, but " +
                                        staleUrl +
                                        " still links to 198.51.100.4: another folder, or a "
                                        "cache?\n"))
        << unverified.err.toStdString();

    stale.setFile("quendle.htm", remotePage(ftp));
    EXPECT_EQ(run({"once"}).exitCode, 0);
}

} // namespace
