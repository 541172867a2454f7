#include "page/pagetext.h"
#include "page/productsettings.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace quendle;

namespace {

const QByteArray kFooter = " I am using Quendle IP Poster for my site! Get your copy at: <a "
                           "href=\"http://www.example.com/quendle/download.htm\">Tarrowby Site</a>";
const QByteArray kBanner = "<a href=\"http://www.example.com/quendle/\"><img "
                           "src=\"http://www.example.com/quendle/banner.gif\"></a>";

// The lines both file pages end with, from the rule above the e-mail line to "</html>".
QByteArray expectedEnd(const QByteArray& mailto)
{
    return "<hr>\r\n"
           "You can email me at this address: <a href=\"mailto:" +
           mailto +
           "\"></a>\r\n"
           "\r\n"
           "<hr>\r\n" +
           kFooter +
           "\r\n"
           "</body>\r\n"
           "</html>\r\n";
}

QByteArray expectedOnline(const QByteArray& link, const QByteArray& mailto)
{
    return "<html>\r\n"
           "<head>\r\n"
           "<title>Quendle</title><center>\r\n"
           "<meta name=\"GENERATOR\" content=\"Quendle\">\r\n"
           "</head>\r\n" +
           kBanner +
           "\r\n"
           "<body><center>\r\n"
           "<a href=\"http://" +
           link +
           "\">\r\n"
           "<p>Click HERE to Enter my Home Site</a></p>\r\n" +
           expectedEnd(mailto);
}

QByteArray expectedOffline(const QByteArray& mailto)
{
    return "<html>\r\n"
           "<head>\r\n"
           "<title>Quendle</title>\r\n"
           "<meta name=\"GENERATOR\" content=\"Quendle\">\r\n"
           "</head>\r\n"
           "<body><center>\r\n"
           "SORRY, not on line right now!\r\n"
           "<p>Check in again later on!!</a></p>\r\n" +
           expectedEnd(mailto);
}

QList<QByteArray> linesOf(const QByteArray& page)
{
    QList<QByteArray> lines = page.split('\n');
    EXPECT_TRUE(lines.takeLast().isEmpty()) << "the page must end with a line end";
    for (QByteArray& line : lines) {
        EXPECT_TRUE(line.endsWith('\r')) << "every line ends with CR LF: " << line.constData();
        line.chop(1);
    }
    return lines;
}

TEST(OnlinePage, IsSixteenLinesWithTheAddressAndEmailByteForByte)
{
    const QByteArray page = onlinePage("192.0.2.7", "me@example.org", defaultBanner());
    EXPECT_EQ(page, expectedOnline("192.0.2.7", "me@example.org"));
    const auto lines = linesOf(page);
    ASSERT_EQ(lines.size(), 16);
    EXPECT_TRUE(lines[11].isEmpty());
    EXPECT_EQ(lines[7], "<a href=\"http://192.0.2.7\">");
}

TEST(OnlinePage, BothFamiliesAddTheIpv6LinkAndItsLineAfterTheIpv4Ones)
{
    QByteArray expected = expectedOnline("192.0.2.7", "me@example.org");
    const QByteArray ipv4Lines = "<p>Click HERE to Enter my Home Site</a></p>\r\n";
    expected.insert(expected.indexOf(ipv4Lines) + ipv4Lines.size(),
                    "<a href=\"http://[2001:db8::7]\">\r\n"
                    "<p>Click HERE to Enter my Home Site over IPv6</a></p>\r\n");
    EXPECT_EQ(
        onlinePageBothFamilies("192.0.2.7", "[2001:db8::7]", "me@example.org", defaultBanner()),
        expected);
}

TEST(OnlinePage, EmptyFieldsStillGiveEveryLine)
{
    EXPECT_EQ(onlinePage("", "", defaultBanner()), expectedOnline("", ""));
}

TEST(OnlinePage, WritesTheBannerItIsGiven)
{
    const QByteArray page = onlinePage("192.0.2.7", "", "<b>mine</b>");
    EXPECT_EQ(linesOf(page)[5], "<b>mine</b>");
}

TEST(OfflinePage, IsFifteenLinesWithTheEmailByteForByte)
{
    const QByteArray page = offlinePage("me@example.org");
    EXPECT_EQ(page, expectedOffline("me@example.org"));
    const auto lines = linesOf(page);
    ASSERT_EQ(lines.size(), 15);
    EXPECT_TRUE(lines[10].isEmpty());
    EXPECT_EQ(offlinePage(""), expectedOffline(""));
}

TEST(PagePreview, IsFourteenLinesWithoutFinalLineEnd)
{
    const QString expected = "<html>\r\n"
                             "<head>\r\n"
                             "<title>Quendle</title>\r\n"
                             "<meta name=\"GENERATOR\" content=\"Quendle\">\r\n"
                             "</head>\r\n"
                             "<body><center>\r\n"
                             "<a href=\"http://192.0.2.7\">\r\n"
                             "<p>Click HERE to Enter my Home Site</a></p>\r\n"
                             "<hr>\r\n"
                             "You can email me at this address: <a href=\"mailto:\"></a>\r\n"
                             "<hr>\r\n" +
                             QString::fromLatin1(kFooter) +
                             "\r\n"
                             "</body>\r\n"
                             "</html>";
    EXPECT_EQ(pagePreview("192.0.2.7", ""), expected);
}

TEST(PageEscaping, QuotationMarksInAttributeValuesBecomeEntities)
{
    const QByteArray page = onlinePage("1.2.3.4\"><script>", "a\"b</html>", defaultBanner());
    const auto lines = linesOf(page);
    EXPECT_EQ(lines[7], "<a href=\"http://1.2.3.4&quot;><script>\">");
    EXPECT_EQ(lines[10],
              "You can email me at this address: <a href=\"mailto:a&quot;b</html>\"></a>");
    EXPECT_EQ(linesOf(offlinePage("x\"y"))[9],
              "You can email me at this address: <a href=\"mailto:x&quot;y\"></a>");
    EXPECT_TRUE(pagePreview("\"", "\"").contains("<a href=\"http://&quot;\">"));
    EXPECT_TRUE(pagePreview("\"", "\"").contains("mailto:&quot;\""));
}

TEST(PageEscaping, OtherMarkupGoesInUnchanged)
{
    const auto lines = linesOf(onlinePage("<b>&amp;", "</html>&<", defaultBanner()));
    EXPECT_EQ(lines[7], "<a href=\"http://<b>&amp;\">");
    EXPECT_EQ(lines[10], "You can email me at this address: <a href=\"mailto:</html>&<\"></a>");
}

TEST(PageEscaping, ALineBreakInAFieldIsWrittenAsCrLf)
{
    // A one-line field keeps the line end of a pasted line.
    EXPECT_EQ(onlinePage("192.0.2.7\n", "me@example.org\r", defaultBanner()),
              expectedOnline("192.0.2.7\r\n", "me@example.org\r\n"));
    EXPECT_EQ(offlinePage("a\r\nb\nc"), expectedOffline("a\r\nb\r\nc"));
    EXPECT_TRUE(pagePreview("", "x\n").contains("mailto:x\r\n\""));
}

TEST(PageEncoding, LatinOneIsOneBytePerCharacterAndTheRestCharacterReferences)
{
    EXPECT_EQ(toPageBytes(QString::fromUtf8("caf\xc3\xa9")), QByteArray("caf\xe9"));
    EXPECT_EQ(toPageBytes(QString::fromUtf8("\xd0\x96")), QByteArray("&#1046;"));
    // A character beyond the basic plane is one reference, not two halves.
    EXPECT_EQ(toPageBytes(QString::fromUtf8("a\xf0\x9f\x98\x80z")), QByteArray("a&#128512;z"));
    const auto lines = linesOf(onlinePage("", QString::fromUtf8("\xd0\x96@example.org"), ""));
    EXPECT_EQ(lines[10],
              "You can email me at this address: <a href=\"mailto:&#1046;@example.org\"></a>");
}

} // namespace
