#include "page/metablock.h"
#include "page/pagetext.h"
#include "startingfields.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace quendle;
using quendle::testing::startingFields;

namespace {

const QString kStartingBlock =
    "<HTML>\r\n"
    "<HEAD>\r\n"
    "<meta http-equiv=\"Content-Type\" content = \"text/html; charset=iso-8859-1\" > \r\n"
    "<TITLE></TITLE>\r\n"
    "<META NAME=\"keywords\" CONTENT=\"\">\r\n"
    "<META NAME=\"description\" CONTENT=\"\">\r\n"
    "<META NAME=\"ROBOTS\" CONTENT=\"ALL\">\r\n"
    "<META NAME=\"revisit-after\" CONTENT=\"\">\r\n"
    "<META NAME=\"Rating\" CONTENT=\"General\">\r\n"
    "<META NAME=\"Language\" CONTENT=\"EN\">\r\n"
    "<META NAME=\"Distribution\" CONTENT=\"Global\">\r\n"
    "<META NAME=\"Classification\" CONTENT=\"Software\">\r\n"
    "<META NAME=\"Bulletin-Text\" CONTENT=\"\">\r\n"
    "<META NAME=\"Author\" CONTENT=\"\">\r\n"
    "<META NAME=\"Generator\" CONTENT=\"Fernwhistle\">\r\n"
    "</HEAD>\r\n";

QStringList linesOf(const QString& block)
{
    QStringList lines = block.split("\r\n");
    EXPECT_TRUE(lines.takeLast().isEmpty()) << "the block ends with CR LF";
    return lines;
}

TEST(MetaBlock, StartingFieldsGiveTheSixteenLines)
{
    EXPECT_EQ(metaBlock(startingFields()), kStartingBlock);
    EXPECT_EQ(linesOf(kStartingBlock).size(), 16);
}

TEST(MetaBlock, RobotsValueFollowsTheTwoBoxes)
{
    struct Row
    {
        bool nofollow, noindex;
        const char* line;
    } rows[] = {
        {false, false, "<META NAME=\"ROBOTS\" CONTENT=\"ALL\">"},
        {true, false, "<META NAME=\"ROBOTS\" CONTENT=\"INDEX,NOFOLLOW\">"},
        {false, true, "<META NAME=\"ROBOTS\" CONTENT=\"NOINDEX,FOLLOW\">"},
        {true, true, "<META NAME=\"ROBOTS\" CONTENT=\"NONE\">"},
    };
    for (const Row& row : rows) {
        MetaFields fields = startingFields();
        fields.nofollow = row.nofollow;
        fields.noindex = row.noindex;
        EXPECT_EQ(linesOf(metaBlock(fields))[6], QString::fromLatin1(row.line))
            << "nofollow " << row.nofollow << ", noindex " << row.noindex;
    }
}

TEST(MetaBlock, EveryFieldLandsInItsOwnLine)
{
    MetaFields fields;
    fields.title = "T";
    fields.keywords = "k";
    fields.description = "d";
    fields.revisitAfter = "7 days";
    fields.rating = "";
    fields.language = "l";
    fields.distribution = "di";
    fields.classification = "c";
    fields.bulletinText = "b";
    fields.author = "a";
    const QStringList lines = linesOf(metaBlock(fields));
    EXPECT_EQ(lines[3], "<TITLE>T</TITLE>");
    EXPECT_EQ(lines[4], "<META NAME=\"keywords\" CONTENT=\"k\">");
    EXPECT_EQ(lines[5], "<META NAME=\"description\" CONTENT=\"d\">");
    EXPECT_EQ(lines[7], "<META NAME=\"revisit-after\" CONTENT=\"7 days\">");
    EXPECT_EQ(lines[8], "<META NAME=\"Rating\" CONTENT=\"\">") << "an emptied field stays empty";
    EXPECT_EQ(lines[9], "<META NAME=\"Language\" CONTENT=\"l\">");
    EXPECT_EQ(lines[10], "<META NAME=\"Distribution\" CONTENT=\"di\">");
    EXPECT_EQ(lines[11], "<META NAME=\"Classification\" CONTENT=\"c\">");
    EXPECT_EQ(lines[12], "<META NAME=\"Bulletin-Text\" CONTENT=\"b\">");
    EXPECT_EQ(lines[13], "<META NAME=\"Author\" CONTENT=\"a\">");
}

TEST(MetaBlock, LineBreaksInAValueBecomeCrLfAndAddLines)
{
    for (const char* keywords : {"home\nsite", "home\r\nsite", "home\rsite"}) {
        MetaFields fields = startingFields();
        fields.keywords = QString::fromLatin1(keywords);
        const QStringList lines = linesOf(metaBlock(fields));
        ASSERT_EQ(lines.size(), 17);
        EXPECT_EQ(lines[4], "<META NAME=\"keywords\" CONTENT=\"home");
        EXPECT_EQ(lines[5], "site\">");
        EXPECT_EQ(lines[16], "</HEAD>");
    }
}

TEST(MetaBlock, ValuesAreNotTrimmed)
{
    MetaFields fields = startingFields();
    fields.title = "My Site ";
    fields.author = " Ann";
    const QStringList lines = linesOf(metaBlock(fields));
    EXPECT_EQ(lines[3], "<TITLE>My Site </TITLE>");
    EXPECT_EQ(lines[13], "<META NAME=\"Author\" CONTENT=\" Ann\">");
}

TEST(MetaBlock, MarkupThatWouldEndAnAttributeOrTheTitleIsEscaped)
{
    MetaFields fields = startingFields();
    fields.author = "Ann \"the cat\"";
    fields.title = "a</TITLE><script>\"&";
    fields.keywords = "x\"><script>";
    fields.description = "<b>&amp;";
    const QStringList lines = linesOf(metaBlock(fields));
    EXPECT_EQ(lines[13], "<META NAME=\"Author\" CONTENT=\"Ann &quot;the cat&quot;\">");
    EXPECT_EQ(lines[3], "<TITLE>a&lt;/TITLE>&lt;script>\"&</TITLE>");
    EXPECT_EQ(lines[4], "<META NAME=\"keywords\" CONTENT=\"x&quot;><script>\">");
    EXPECT_EQ(lines[5], "<META NAME=\"description\" CONTENT=\"<b>&amp;\">");
}

TEST(MetaBlock, CharactersOutsideLatinOneSurviveIntoThePage)
{
    MetaFields fields = startingFields();
    fields.title = QString::fromUtf8("\xd0\x96"
                                     "ar");
    const QString block = metaBlock(fields);
    EXPECT_EQ(linesOf(block)[3], QString::fromUtf8("<TITLE>\xd0\x96"
                                                   "ar</TITLE>"));
    EXPECT_TRUE(toPageBytes(block).contains("<TITLE>&#1046;ar</TITLE>"));
}

} // namespace
