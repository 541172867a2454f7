#include "ftp/curltransferclient.h"
#include "page/pagetext.h"
#include "page/productsettings.h"
#include "publisherfixture.h"
#include "testcertificates.h"
#include "testhttpecho.h"
#include "testknot.h"
#include "testproviderstandin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

using namespace quendle;
using namespace quendle::testing;

namespace {

class OnceTest : public PublisherFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.running()) << server.startError().toStdString();
        ASSERT_TRUE(echo.running()) << echo.startError().toStdString();
        server.makeDirectory("/www");
        echo.setAnswer("11.22.33.44\n");
    }

    QByteArray webSource(const QByteArray& family = "ipv4") const
    {
        return "[address]\nsources = web\nfamily = " + family + "\nweb = " + echo.url().toUtf8() +
               "\n";
    }

    // A [dns name] section for home.example.test at `knot`, its key in a file of the test's.
    QByteArray dnsSection(const TestKnot& knot)
    {
        const QString keyFile = writeSecretFile("tsig.key", knot.secret());
        return "[dns name]\nprotocol = rfc2136\nname = home.example.test\nserver = " +
               knot.server().toUtf8() + "\nkey_name = quendle\nkey_file = " + keyFile.toUtf8() +
               "\n";
    }

    TestFtpServer server;
    TestHttpEcho echo;
};

TEST_F(OnceTest, OnceAndOfflinePublishTheWindowsPagesByteForByte)
{
    writeConfig(webSource(), targetFor("home", server.host()));
    const Run once = run({"once"});
    EXPECT_EQ(once.exitCode, 0) << once.err.toStdString();
    const QByteArray online = onlinePage("11.22.33.44", "me@example.org", defaultBanner());
    EXPECT_EQ(remotePage(server), online);
    EXPECT_EQ(readWholeFile(pagePath()), online);
    EXPECT_TRUE(once.err.contains("page home: page uploaded (" + QString::number(online.size()) +
                                  " bytes, "))
        << once.err.toStdString();

    const Run offline = run({"offline"});
    EXPECT_EQ(offline.exitCode, 0) << offline.err.toStdString();
    EXPECT_EQ(remotePage(server), offlinePage("me@example.org"));
    EXPECT_EQ(readWholeFile(pagePath()), offlinePage("me@example.org"));
    EXPECT_EQ(server.loginCount(), 2);
    // The server counts a QUIT once it has answered it, maybe after the program ended.
    EXPECT_TRUE(waitFor([&] { return server.quitCount() == 2; }, 10000)) << "each run logs out";
}

TEST_F(OnceTest, AnIpv6AddressIsLinkedInBrackets)
{
    TestHttpEcho echo6("::1");
    ASSERT_TRUE(echo6.running()) << echo6.startError().toStdString();
    echo6.setAnswer("2001:DB8::7");
    writeConfig("[address]\nsources = web\nfamily = ipv6\nweb = " + echo6.url().toUtf8() + "\n",
                targetFor("home", server.host()), "");
    const Run once = run({"once"});
    EXPECT_EQ(once.exitCode, 0) << once.err.toStdString();
    EXPECT_EQ(remotePage(server), onlinePage("[2001:db8::7]", "", defaultBanner()));
}

TEST_F(OnceTest, EachFailingTargetIsNamedWithTheServersReplyAndTheOthersStillGetThePage)
{
    const QString wrongPassword = "wrong s3cret";
    writeConfig(webSource(), targetFor("home", server.host()) +
                                 targetFor("refused", server.host(), wrongPassword) +
                                 "name = other.htm\n");
    const Run once = run({"--verbose", "once"});
    EXPECT_EQ(once.exitCode, 1);
    EXPECT_EQ(remotePage(server), onlinePage("11.22.33.44", "me@example.org", defaultBanner()));
    EXPECT_TRUE(once.err.contains(
        QRegularExpression("refused: Unable to connect to the specified host: .*530")))
        << once.err.toStdString();
    for (const QString& secret : {TestFtpServer::kPassword, wrongPassword}) {
        EXPECT_FALSE(once.err.contains(secret));
        EXPECT_FALSE(once.out.contains(secret));
    }
}

TEST_F(OnceTest, AFileSizeLimitFailsThePageWriteWithAMessage)
{
    writeConfig(webSource(), targetFor("home", server.host()));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(pagePath()).path()));
    QFile old(pagePath());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old page\r\n") == 10);
    old.close();

    // Without SIGXFSZ ignored, the write past 64 bytes would end the program without a word.
    const Run offline = run({"offline"}, {"prlimit", "--fsize=64", "--"});
    EXPECT_EQ(offline.exitCode, 1) << offline.err.toStdString();
    EXPECT_TRUE(offline.err.contains("The page file could not be written"))
        << offline.err.toStdString();
    EXPECT_EQ(readWholeFile(pagePath()), "old page\r\n");
    EXPECT_EQ(server.loginCount(), 0);
}

TEST_F(OnceTest, WithoutAnAddressNothingIsUploaded)
{
    echo.setAnswer("<html>Your address: 11.22.33.44</html>");
    writeConfig("[address]\nsources = interface, web\ninterface = nosuch0\nweb = " +
                    echo.url().toUtf8() + "\n",
                targetFor("home", server.host()));
    const Run once = run({"once"});
    EXPECT_EQ(once.exitCode, 1);
    EXPECT_TRUE(once.err.contains("source interface: interface nosuch0 has no IPv4 address"));
    EXPECT_TRUE(once.err.contains("source web: the answer is not one IPv4 address"));
    EXPECT_EQ(server.loginCount(), 0);

    const Run address = run({"address"});
    EXPECT_EQ(address.exitCode, 1);
    echo.setAnswer("11.22.33.45");
    EXPECT_EQ(run({"address"}).out, "interface: no answer: interface nosuch0 has no IPv4 address\n"
                                    "web: 11.22.33.45 (" +
                                        echo.url() + ")\n");
    EXPECT_EQ(server.loginCount(), 0);
}

TEST_F(OnceTest, DnsNamesGetTheAddressWithThePageAndAddressShowsWhatTheyHold)
{
    TestKnot knot;
    ASSERT_TRUE(knot.running()) << knot.startError().toStdString();
    const QByteArray name = dnsSection(knot);
    writeConfig(webSource(), targetFor("home", server.host()) + name);
    const Run once = run({"--verbose", "once"});
    EXPECT_EQ(once.exitCode, 0) << once.err.toStdString();
    EXPECT_TRUE(once.err.contains("dns name: home.example.test now holds 11.22.33.44 at " +
                                  knot.server() + " ("))
        << once.err.toStdString();
    EXPECT_EQ(knot.records("home.example.test", "A"), QStringList{"11.22.33.44"});
    EXPECT_EQ(knot.records("home.example.test", "AAAA"), QStringList{"2001:db8::1"});

    const Run address = run({"address"});
    EXPECT_EQ(address.out, "web: 11.22.33.44 (" + echo.url() +
                               ")\ndns name: home.example.test A 11.22.33.44 (at " + knot.server() +
                               ")\n");
    EXPECT_EQ(run({"offline"}).exitCode, 0);
    EXPECT_EQ(knot.records("home.example.test", "A"), QStringList{"11.22.33.44"});

    // An update the server refuses fails the run; the page still goes out, and no secret shows.
    echo.setAnswer("11.22.33.45\n");
    writeConfig(webSource(), targetFor("home", server.host()) + name + "zone = other.test\n");
    const Run refused = run({"--verbose", "once"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("dns name: the server is not the primary of zone other.test "
                                     "(NOTAUTH): check server and zone: " +
                                     knot.server() + " answered NOTAUTH\n"))
        << refused.err.toStdString();
    // A failure without details ends with its reason.
    writeConfig(webSource(), targetFor("home", server.host()) +
                                 "[dns name]\nprotocol = dyndns2\nname = home.example.test\nurl = "
                                 "https://127.0.0.1:" +
                                 QByteArray::number(freeLoopbackPort()) +
                                 "/nic/update\nuser = bob\n" +
                                 "password_file = " + dir.filePath("tsig.key").toUtf8() +
                                 "\nverify = " + knot.server().toUtf8() + "\n");
    const Run unreachable = run({"once"});
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_TRUE(unreachable.err.contains(
        QRegularExpression("name: cannot reach the provider: Failed to connect to 127.0.0.1 "
                           "port \\d+ after \\d+ ms: Couldn't connect to server\n")))
        << unreachable.err.toStdString();
    EXPECT_EQ(remotePage(server), onlinePage("11.22.33.45", "me@example.org", defaultBanner()));
    for (const QString& output : {once.err, once.out, address.out, address.err, refused.err})
        EXPECT_FALSE(output.contains(knot.secret())) << output.toStdString();
}

// Only a [target] uploads the page: with DNS names alone no page is written, and a page folder
// that cannot be made stops nothing.
TEST_F(OnceTest, DnsNamesAloneNeedNoPageFolder)
{
    TestKnot knot;
    ASSERT_TRUE(knot.running()) << knot.startError().toStdString();
    QFile notAFolder(QFileInfo(pagePath()).path());
    ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly) && notAFolder.write("a file\n") == 7);
    notAFolder.close();
    writeConfig(webSource(), dnsSection(knot));
    const Run once = run({"once"});
    EXPECT_EQ(once.exitCode, 0) << once.err.toStdString();
    EXPECT_EQ(knot.records("home.example.test", "A"), QStringList{"11.22.33.44"});
    const Run offline = run({"offline"});
    EXPECT_EQ(offline.exitCode, 0) << offline.err.toStdString();
    EXPECT_EQ(readWholeFile(notAFolder.fileName()), "a file\n");
}

TEST_F(OnceTest, AProviderNameIsKeptThroughItsApiAndAddressShowsWhatItHolds)
{
    TestKnot knot;
    ASSERT_TRUE(knot.running()) << knot.startError().toStdString();
    TestProviderStandIn cloudflare("cloudflare", knot, {"token=tok-en_1"});
    ASSERT_TRUE(cloudflare.running()) << cloudflare.startError().toStdString();
    QFile token(dir.filePath("cloudflare-token"));
    ASSERT_TRUE(token.open(QIODevice::WriteOnly));
    token.write("tok-en_1\n");
    token.close();
    token.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    // Two names of one zone and token: one batch request makes both.
    const auto section = [&](const QByteArray& label, const QByteArray& name) {
        return "[dns " + label + "]\nprotocol = cloudflare\nname = " + name +
               "\ntoken_file = " + token.fileName().toUtf8() +
               "\napi = " + cloudflare.api("/client/v4").toUtf8() +
               "\nverify = " + knot.server().toUtf8() + "\n";
    };
    writeConfig(webSource(), targetFor("home", server.host()) +
                                 section("cloud", "home.example.test") +
                                 section("www", "www.example.test"));
    const Run once = run({"--verbose", "once"});
    EXPECT_EQ(once.exitCode, 0) << once.err.toStdString();
    EXPECT_TRUE(
        once.err.contains("cloud: home.example.test now holds 11.22.33.44 at " + knot.server()))
        << once.err.toStdString();
    EXPECT_EQ(knot.records("www.example.test", "A"), QStringList{"11.22.33.44"});
    QStringList changes;
    for (const QJsonObject& request : cloudflare.requests())
        if (request["method"].toString() != "GET")
            changes << request["method"].toString() + " " + request["path"].toString();
    EXPECT_EQ(changes, QStringList{"POST /client/v4/zones/023e105f4ecef8ad9ca31a8372d0c353/"
                                   "dns_records/batch"});
    const Run address = run({"address"});
    EXPECT_EQ(address.out, "web: 11.22.33.44 (" + echo.url() +
                               ")\ndns cloud: home.example.test A 11.22.33.44 (at " +
                               knot.server() + ")\ndns www: www.example.test A 11.22.33.44 (at " +
                               knot.server() + ")\n");
    for (const QString& output : {once.err, once.out, address.out, address.err})
        EXPECT_FALSE(output.contains("tok-en_1")) << output.toStdString();
    EXPECT_EQ(cloudflare.failures(), QStringList{});
}

TEST_F(OnceTest, UsageAndConfigurationErrorsExitWithTwo)
{
    QProcess help;
    help.start(QUENDLE_PUBLISH_PROGRAM, {"--help"});
    ASSERT_TRUE(help.waitForFinished());
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains(
        "quendle-publish [--config FILE] [--verbose] watch     # keep the page current until "
        "stopped\n"));
    EXPECT_EQ(run({"--version"}).out, "quendle-publish 1.0\n");
    EXPECT_EQ(run({}).exitCode, 2);
    const Run unknown = run({"--fast", "once"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.startsWith("quendle-publish: unknown option --fast\n"));
    EXPECT_EQ(run({"once", "watch"}).exitCode, 2);

    // A control character from the file reaches the terminal as text, not as a command to it.
    writeConfig("[address]\nsources = mo\x1b[2Jdem\n", targetFor("home", server.host()));
    const Run bad = run({"once"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(
        bad.err.contains(configPath() + ":5: [address] sources: unknown source \"mo\\x1b[2Jdem\""))
        << bad.err.toStdString();

    // A password that others can read is refused before anything is sent.
    writeConfig(webSource(), targetFor("home", server.host()));
    QFile::setPermissions(configPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    const Run open = run({"once"});
    EXPECT_EQ(open.exitCode, 2);
    EXPECT_TRUE(open.err.contains("run chmod 600 " + configPath())) << open.err.toStdString();
    EXPECT_EQ(server.loginCount(), 0);
}

TEST_F(OnceTest, APasswordNeverShowsWhereverItTurnsUp)
{
    const QByteArray secret = "Zq7=Vandermolen";
    TestFtpServer echoing{[] {
        TestFtpServer::Options options;
        options.echoPassword = true;
        return options;
    }()};
    ASSERT_TRUE(echoing.running()) << echoing.startError().toStdString();
    QFile file(dir.filePath("password"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(secret + "\n") > 0);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray login = "\nuser = tester\ndirectory = /www\n";
    const struct
    {
        QByteArray target;
        int exitCode;
        QString shown;
    } rows[] = {
        {"[target home]\nhost = ftp://alice:" + secret + "@" + server.host().toUtf8() + login +
             "password = other\n",
         2, "host: \"ftp://***@" + server.host() + "\" is not a valid host: the user name and"},
        {targetFor("home", server.host()) + secret + "\n", 2,
         "[target home]: an unknown key, not shown: it may be part of a password"},
        {targetFor("home", echoing.host(), secret), 1, "530 Login incorrect: *** is not the"},
        {"[target home]\nhost = " + echoing.host().toUtf8() + login +
             "password_file = " + file.fileName().toUtf8() + "\n",
         1, "530 Login incorrect: *** is not the"},
    };
    for (const auto& row : rows) {
        writeConfig(webSource(), row.target);
        const Run once = run({"--verbose", "once"});
        EXPECT_EQ(once.exitCode, row.exitCode) << once.err.toStdString();
        EXPECT_TRUE(once.err.contains(row.shown)) << once.err.toStdString();
        for (const QString part : {"Zq7", "Vandermolen"})
            EXPECT_FALSE(once.out.contains(part) || once.err.contains(part))
                << once.err.toStdString();
    }
}

TEST_F(OnceTest, AnUntrustedCertificateIsDescribedOnceWithHowToTrustItsAuthority)
{
    const TestCertificates& certificates = TestCertificates::shared();
    ASSERT_TRUE(certificates.ok()) << certificates.error().toStdString();
    TestFtpServer::Options options;
    options.tls = "explicit";
    options.certificate = certificates.localhost().certificate;
    options.key = certificates.localhost().key;
    TestFtpServer tls(options);
    ASSERT_TRUE(tls.running()) << tls.startError().toStdString();
    writeConfig(webSource(), targetFor("home", "ftpes://" + tls.host()));

    qputenv("SSL_CERT_FILE", QFile::encodeName(certificates.unrelatedAuthority()));
    qputenv("SSL_CERT_DIR", QFile::encodeName(dir.filePath("no-such-folder")));
    CurlTransferClient probe; // what the transfer component says of this certificate
    const QString description =
        probe.connect({"ftpes://" + tls.host(), "tester", "x", {}, {}, {}}).identity.description;
    const Run once = run({"once"});
    qunsetenv("SSL_CERT_FILE");
    qunsetenv("SSL_CERT_DIR");

    EXPECT_EQ(once.exitCode, 1);
    EXPECT_TRUE(description.startsWith("The certificate of " + tls.host() +
                                       " cannot be trusted: it was issued by an unknown "
                                       "authority.\n\nSubject: CN=localhost\n"))
        << description.toStdString();
    const QString expected =
        "page home: Unable to connect to the specified host: " +
        QString(description).replace("\n\n", "\n").replace("\n", "; ") +
        "; To trust the authority that issued it, start quendle-publish with SSL_CERT_FILE naming "
        "a PEM file that holds the authority's certificate, or SSL_CERT_DIR naming a folder of "
        "such files prepared with \"openssl rehash\" (for the service, with systemctl edit: "
        "Environment=SSL_CERT_FILE=...). Otherwise have the server's certificate fixed: issued "
        "for the name the host setting uses, by an authority the system trusts, and in date.";
    const QStringList lines = once.err.split('\n').filter(" page home: ");
    ASSERT_EQ(lines.size(), 1) << once.err.toStdString();
    EXPECT_EQ(lines[0].mid(20).toStdString(), expected.toStdString()) << "after the time stamp";
    EXPECT_EQ(tls.loginCount(), 0);
}

} // namespace
