#include "page/metablock.h"
#include "page/pagehead.h"
#include "page/pagetext.h"
#include "page/productsettings.h"
#include "startingfields.h"

#include <gtest/gtest.h>

using namespace quendle;
using quendle::testing::startingFields;

namespace {

// What followed "</head>" in the saved page, starting with that line's CR LF.
QByteArray savedTail(const QByteArray& page)
{
    return page.mid(page.indexOf("</head>") + 7);
}

TEST(PageWithNewHead, ReplacesTheHeadOfASavedPage)
{
    const QByteArray saved = onlinePage("192.0.2.7", "me@example.org", defaultBanner());
    const QString block = metaBlock(startingFields());
    const auto written = pageWithNewHead(saved, block);
    ASSERT_TRUE(written);

    const QByteArray tail = savedTail(saved);
    ASSERT_TRUE(tail.startsWith("\r\n" + defaultBanner().toLatin1() + "\r\n<body><center>\r\n"));
    const QByteArray expected = block.toLatin1() + "\r\n<center>\r\n" + tail + "\r\n";
    EXPECT_EQ(*written, expected);
    EXPECT_TRUE(written->startsWith("<HTML>\r\n<HEAD>\r\n"));
    EXPECT_FALSE(written->contains("<title>Quendle</title>"));
    EXPECT_TRUE(written->endsWith("</html>\r\n\r\n")) << "the file ends with an empty line";
    EXPECT_TRUE(written->contains("</HEAD>\r\n\r\n<center>\r\n\r\n<a href="));
}

TEST(PageWithNewHead, WritingTwiceKeepsOneBlockAndAddsACenterLine)
{
    const QByteArray saved = onlinePage("192.0.2.7", "", defaultBanner());
    const QString block = metaBlock(startingFields());
    const auto once = pageWithNewHead(saved, block);
    ASSERT_TRUE(once);
    const auto twice = pageWithNewHead(*once, block);
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->count("\n<center>\r\n"), 2);
    EXPECT_EQ(twice->count("<HEAD>"), 1);
    EXPECT_EQ(*twice, block.toLatin1() + "\r\n<center>\r\n" + "\r\n\r\n<center>\r\n" +
                          savedTail(saved) + "\r\n\r\n");
}

TEST(PageWithNewHead, FindsTheMarkerInAnyLetterCase)
{
    for (const QByteArray marker : {"</head>", "</HEAD>", "</Head>"}) {
        const QByteArray page = "<html><title>x</title>" + marker + "\r\nbody</html>\r\n";
        const auto written = pageWithNewHead(page, "NEW");
        ASSERT_TRUE(written) << marker.constData();
        EXPECT_EQ(*written, "NEW\r\n<center>\r\n\r\nbody</html>\r\n\r\n") << marker.constData();
    }
}

TEST(PageWithNewHead, TheFirstMarkerCounts)
{
    const auto written = pageWithNewHead("a</head>b</HEAD>c", "X");
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, "X\r\n<center>\r\nb</HEAD>c\r\n");
}

TEST(PageWithNewHead, APageWithoutAHeadIsNotTouched)
{
    EXPECT_FALSE(pageWithNewHead("<html><body>no head here</body></html>\r\n", "X"));
    EXPECT_FALSE(pageWithNewHead("", "X"));
}

TEST(PageWithNewHead, HandTypedTextIsWrittenAsItIsWithCrLfLineEnds)
{
    const auto written = pageWithNewHead("</head>\r\nrest", "  \n<b>x</b>");
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, "  \r\n<b>x</b>\r\n<center>\r\n\r\nrest\r\n");
}

TEST(PageWithNewHead, KeepsTheOldBytesAndEncodesTheNewText)
{
    const auto written = pageWithNewHead("</head>\xe9\xff", QString::fromUtf8("\xc3\xa9\xd0\x96"));
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, "\xe9&#1046;\r\n<center>\r\n\xe9\xff\r\n");
}

} // namespace
