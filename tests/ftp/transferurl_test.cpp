#include "ftp/transferurl.h"

#include <gtest/gtest.h>

using namespace quendle;

namespace {

TEST(FtpAuthority, AcceptsHostsAddressesAndPorts)
{
    const std::pair<const char*, const char*> cases[] = {
        {"ftp.example.org", "ftp.example.org:21"},
        {"ftp.example.org:2121", "ftp.example.org:2121"},
        {"127.0.0.1", "127.0.0.1:21"},
        {"[::1]", "[::1]:21"},
        {"[::1]:2121", "[::1]:2121"},
        {"my_host-1", "my_host-1:21"},
    };
    for (const auto& [host, authority] : cases)
        EXPECT_EQ(ftpAuthority(QString::fromLatin1(host)), QString::fromLatin1(authority)) << host;
}

TEST(FtpAuthority, RefusesWhatWouldChangeTheAddress)
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
                             "host:x",
                             "host:",
                             "host:21:22",
                             "[::1",
                             "[::1]x",
                             "[::1]:",
                             "[zz]",
                             "a\\b",
                             "a%2fb",
                             "a b",
                             "::1"})
        EXPECT_FALSE(ftpAuthority(QString::fromLatin1(host)).has_value()) << "\"" << host << "\"";
}

TEST(FtpPath, AbsoluteRelativeAndLoginDirectories)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "quendle.htm"},
        {"/", "%2F/quendle.htm"},
        {"/tarrowby/public_html", "%2Ftarrowby/public_html/quendle.htm"},
        {"/a/b/", "%2Fa/b/quendle.htm"},
        {"pub", "pub/quendle.htm"},
        {"pub//www", "pub/www/quendle.htm"},
        {"/my site/100%#?", "%2Fmy%20site/100%25%23%3F/quendle.htm"},
    };
    for (const auto& [directory, path] : cases)
        EXPECT_EQ(ftpPath(QString::fromLatin1(directory), "quendle.htm"), QString::fromLatin1(path))
            << "\"" << directory << "\"";
    EXPECT_EQ(ftpPath("", "my page.htm"), "my%20page.htm");
}

} // namespace
