#include "ftp/transferurl.h"

#include <gtest/gtest.h>

using namespace quendle;

namespace {

QString authority(const QString& host)
{
    const ServerAddressResult parsed = parseServerAddress(host);
    return parsed.address ? parsed.address->authority() : QStringLiteral("refused");
}

TEST(ServerAddress, AcceptsHostsAddressesPortsAndSchemes)
{
    const std::pair<const char*, const char*> cases[] = {
        {"ftp.example.org", "ftp.example.org:21"},
        {"ftp.example.org:2121", "ftp.example.org:2121"},
        {"127.0.0.1", "127.0.0.1:21"},
        {"192.168.1.8", "192.168.1.8:21"},
        {"0.0.0.0", "0.0.0.0:21"},
        {"255.255.255.255:65535", "255.255.255.255:65535"},
        {"[::1]", "[::1]:21"},
        {"[::1]:2121", "[::1]:2121"},
        {"my_host-1", "my_host-1:21"},
        {"host:021", "host:21"},
        {"0x7f.example.org", "0x7f.example.org:21"},
        {"ftp://ftp.example.org", "ftp.example.org:21"},
        {"ftpes://ftp.example.org", "ftp.example.org:21"},
        {"FTPS://ftp.example.org/", "ftp.example.org:990"},
        {"sftp://ftp.example.org", "ftp.example.org:22"},
        {"sftp://[::1]:2222", "[::1]:2222"},
        {"ftps://10.1.2.3:8990", "10.1.2.3:8990"},
    };
    for (const auto& [host, expected] : cases)
        EXPECT_EQ(authority(QString::fromLatin1(host)), QString::fromLatin1(expected)) << host;

    const std::pair<const char*, TransferScheme> schemes[] = {
        {"h", TransferScheme::Ftp},
        {"ftp://h", TransferScheme::Ftp},
        {"ftpes://h", TransferScheme::ExplicitTls},
        {"ftps://h", TransferScheme::ImplicitTls},
        {"sftp://h", TransferScheme::Sftp},
    };
    for (const auto& [host, scheme] : schemes)
        EXPECT_EQ(parseServerAddress(QString::fromLatin1(host)).address->scheme, scheme) << host;
    EXPECT_EQ(parseServerAddress("sftp://[::1]").address->bareHost(), "::1");
}

TEST(ServerAddress, RefusesWhatWouldChangeTheAddress)
{
    for (const char* host : {"",
                             " ",
                             " ftp.example.org",
                             "user@evil.example",
                             "a/b",
                             "a?b",
                             "a#b",
                             "host:0",
                             "host:65536",
                             "host:99999999999",
                             "host:x",
                             "host:",
                             "host:21:22",
                             "host:+21",
                             "host:-21",
                             "[::1",
                             "[::1]x",
                             "[::1]:",
                             "[zz]",
                             "a\\b",
                             "a%2fb",
                             "a b",
                             "::1",
                             "ftp://",
                             "ftp://h/x",
                             "ftp://h//",
                             "ftp://user:pw@h",
                             "sftp://h:22/~/"})
        EXPECT_EQ(authority(QString::fromLatin1(host)), "refused") << "\"" << host << "\"";
}

TEST(ServerAddress, NumericHostsAreFourDecimalNumbersOnly)
{
    // Each of these would reach another machine through the C library's reading of numbers.
    for (const char* host : {"010.0.0.1", "192.168.001.010", "0x7f.1", "0x7f.0.0.1", "2130706433",
                             "127.1", "127.0.0.1.", "1.2.3.4.5", "256.0.0.1", "1.2.3.999",
                             "0.0.0.00", "example.0x10", "example.123", "0x", "07"}) {
        const ServerAddressResult parsed = parseServerAddress(QString::fromLatin1(host));
        EXPECT_FALSE(parsed.address.has_value()) << host;
        EXPECT_TRUE(parsed.problem.contains("four numbers from 0 to 255")) << host;
    }
    // Full-width digits become ASCII digits in the name lookup.
    EXPECT_FALSE(parseServerAddress(QString::fromUtf8("０１０.0.0.1")).address.has_value());
}

TEST(ServerAddress, PortsAreAsciiDigitsWithNothingAround)
{
    for (const QString& host :
         {QStringLiteral("host:21 "), QStringLiteral("host: 21"), QStringLiteral("host:\t21"),
          QStringLiteral("host:21\n"), QStringLiteral("host:2") + QChar(0) + QStringLiteral("1"),
          QStringLiteral("host:21") + QChar(0), QString::fromUtf8("host:２１"),
          QStringLiteral("[::1]:21 ")}) {
        const ServerAddressResult parsed = parseServerAddress(host);
        EXPECT_FALSE(parsed.address.has_value()) << host.toStdString();
        EXPECT_TRUE(parsed.problem.contains("the port is a number from 1 to 65535"))
            << parsed.problem.toStdString();
    }
    // What came with the text is shown, a NUL or a line break included.
    EXPECT_EQ(parseServerAddress(QStringLiteral("host:21\n")).problem,
              "\"host:21\\x0a\" is not a valid host: the port is a number from 1 to 65535 "
              "written in digits only.");
}

TEST(ServerAddress, AUserAndPasswordInTheHostAreRefusedAndNeverShown)
{
    const std::pair<const char*, const char*> cases[] = {
        {"ftp://alice:pw@h", "\"ftp://***@h\""},
        {"alice:pw@h:21", "\"***@h:21\""},
        {"http://alice:p@w://x@h", "\"http://***@h\""},
        {"al:ice://pw@h", "\"***@h\""},
    };
    for (const auto& [host, shown] : cases)
        EXPECT_EQ(parseServerAddress(QString::fromLatin1(host)).problem.toStdString(),
                  std::string(shown) +
                      " is not a valid host: the user name and the password go in settings of "
                      "their own, not in the host.");
}

TEST(ServerAddress, UnknownSchemesListTheAcceptedOnes)
{
    for (const char* host : {"http://h", "scp://h", "ftpx://h", "://h", "ftp:/h:21://"}) {
        const ServerAddressResult parsed = parseServerAddress(QString::fromLatin1(host));
        EXPECT_FALSE(parsed.address.has_value()) << host;
        EXPECT_TRUE(parsed.unknownScheme) << host;
        EXPECT_TRUE(parsed.problem.contains("ftp:// (or no scheme), ftpes://, ftps:// and sftp://"))
            << parsed.problem.toStdString();
    }
    EXPECT_FALSE(parseServerAddress("ftp:h").unknownScheme) << "no scheme, an invalid port";
}

TEST(RemotePath, AbsoluteRelativeAndLoginDirectories)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"", "quendle.htm", "/~/quendle.htm"},
        {"/", "%2F/quendle.htm", "/quendle.htm"},
        {"/tarrowby/public_html", "%2Ftarrowby/public_html/quendle.htm",
         "/tarrowby/public_html/quendle.htm"},
        {"/a/b/", "%2Fa/b/quendle.htm", "/a/b/quendle.htm"},
        {"pub", "pub/quendle.htm", "/~/pub/quendle.htm"},
        {"pub//www", "pub/www/quendle.htm", "/~/pub/www/quendle.htm"},
        {"../pub", "../pub/quendle.htm", "/~/../pub/quendle.htm"},
        {"/~/x", "%2F~/x/quendle.htm", "//~/x/quendle.htm"},
        {"/my site/100%#?", "%2Fmy%20site/100%25%23%3F/quendle.htm",
         "/my%20site/100%25%23%3F/quendle.htm"},
    };
    for (const auto& [directory, ftp, sftp] : cases) {
        EXPECT_EQ(ftpPath(QString::fromLatin1(directory), "quendle.htm"), QString::fromLatin1(ftp))
            << "\"" << directory << "\"";
        EXPECT_EQ(sftpPath(QString::fromLatin1(directory), "quendle.htm"),
                  QString::fromLatin1(sftp))
            << "\"" << directory << "\"";
    }
    EXPECT_EQ(ftpPath("", "my page.htm"), "my%20page.htm");
}

TEST(RemotePath, WholeAddressesPerScheme)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"h", "ftp://h:21/", "ftp://h:21/%2Fwww/quendle.htm"},
        {"ftpes://h", "ftp://h:21/", "ftp://h:21/%2Fwww/quendle.htm"},
        {"ftps://[::1]:990", "ftps://[::1]:990/", "ftps://[::1]:990/%2Fwww/quendle.htm"},
        {"sftp://h:2222", "sftp://h:2222/~/", "sftp://h:2222/www/quendle.htm"},
    };
    for (const auto& [host, login, upload] : cases) {
        const ServerAddress server = *parseServerAddress(QString::fromLatin1(host)).address;
        EXPECT_EQ(loginUrl(server), QString::fromLatin1(login)) << host;
        EXPECT_EQ(uploadUrl(server, "/www", "quendle.htm"), QString::fromLatin1(upload)) << host;
    }
}

} // namespace
