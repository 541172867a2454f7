#include "editor/linkeditor.h"
#include "mainwindowfixture.h"
#include "page/metablock.h"
#include "page/pagefile.h"
#include "page/pagetext.h"
#include "page/productsettings.h"
#include "startingfields.h"
#include "testftpserver.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

using namespace quendle;
using namespace quendle::testing;

namespace {

// The editor as opened from the main window's "Link/META Editor" label.
class LinkEditorTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        QTest::mouseClick(control(*window, "Label16"), Qt::LeftButton);
        editor = window->linkEditor();
        ASSERT_TRUE(editor);
    }

    void TearDown() override { closeEditor(); }

    void closeEditor()
    {
        if (editor)
            editor->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QLineEdit* line(const char* name) { return control<QLineEdit>(*editor, name); }
    QPlainTextEdit* area(const char* name) { return control<QPlainTextEdit>(*editor, name); }
    QString output() { return area("Text6")->toPlainText(); }
    void generate() { QTest::mouseClick(control(*editor, "Command1"), Qt::LeftButton); }
    void write() { QTest::mouseClick(control(*editor, "Command2"), Qt::LeftButton); }
    QByteArray page() { return readWholeFile(window->pagePath()); }

    QPointer<LinkEditor> editor;
};

TEST_F(LinkEditorTest, OpensWithItsDesignValues)
{
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->windowTitle(), "LinkEditor");
    EXPECT_EQ(editor->size(), QSize(508, 464));
    EXPECT_EQ(editor->palette().color(QPalette::Window), QColor(0, 0, 128));
    EXPECT_EQ(control<QGroupBox>(*editor, "Frame1")->title(), "Banner Link:");
    EXPECT_EQ(control<QGroupBox>(*editor, "Frame2")->title(), "META Tags:");
    EXPECT_EQ(line("Text1")->text(), "<a href=\"\"http://www.example.com/quendle/\"\"><img "
                                     "src=\"\"http://www.example.com/quendle/banner.gif\"\"></a>");
    const std::pair<const char*, const char*> texts[] = {
        {"Text3", ""},        {"Text12", ""},         {"Text13", "General"}, {"Text14", "EN"},
        {"Text15", "Global"}, {"Text16", "Software"}, {"Text18", ""},
    };
    for (const auto& [name, text] : texts)
        EXPECT_EQ(line(name)->text(), text) << name;
    for (const char* name : {"Text4", "Text5", "Text17", "Text6"})
        EXPECT_TRUE(area(name)->toPlainText().isEmpty()) << name;
    EXPECT_FALSE(control<QCheckBox>(*editor, "Check1")->isChecked());
    EXPECT_FALSE(control<QCheckBox>(*editor, "Check2")->isChecked());
    EXPECT_EQ(control<QCheckBox>(*editor, "Check1")->text(), "Nofollow");
    EXPECT_EQ(control<QCheckBox>(*editor, "Check2")->text(), "Noindex");
    EXPECT_EQ(control<QPushButton>(*editor, "Command1")->text(), "Generate");
    EXPECT_EQ(control<QPushButton>(*editor, "Command2")->text(), "Write");
    EXPECT_EQ(control<QLabel>(*editor, "Label1")->text(), "Close");
    EXPECT_TRUE(control<QLabel>(*editor, "Label1")->font().bold());
    for (const char* name : {"Text1", "Text3", "Text4", "Text6"}) {
        EXPECT_EQ(control(*editor, name)->palette().color(QPalette::Base), QColor(0, 0, 0));
        EXPECT_EQ(control(*editor, name)->palette().color(QPalette::Text), QColor(0, 255, 0));
    }
}

TEST_F(LinkEditorTest, LabelsAndTooltips)
{
    const std::pair<const char*, const char*> captions[] = {
        {"Label3", "Title:"},           {"Label4", "Keywords:"},
        {"Label5", "Description:"},     {"Label6", "Robot Traversal:"},
        {"Label11", "Revisit After:"},  {"Label12", "Rating:"},
        {"Label13", "Language:"},       {"Label14", "Distribution:"},
        {"Label15", "Classification:"}, {"Label16", "Bulletin Text:"},
        {"Label17", "Author:"},
    };
    for (const auto& [name, caption] : captions)
        EXPECT_EQ(control<QLabel>(*editor, name)->text(), caption) << name;
    const std::pair<const char*, const char*> tips[] = {
        {"Text1", "NOTE: IMPORTANT to have the DOUBLE QUOTES"},
        {"Text3", "Title for your Page(s)"},
        {"Text4", "Keywords for your Pages"},
        {"Text5", "Page Description"},
        {"Label6", "Use if you want Search Engine Robots to Crawl your pages"},
        {"Text6", "Generated META tags"},
        {"Text13", ""},
    };
    for (const auto& [name, tip] : tips)
        EXPECT_EQ(control(*editor, name)->toolTip(), tip) << name;
}

TEST_F(LinkEditorTest, ControlsStandWhereTheLayoutPutsThem)
{
    const std::pair<const char*, QRect> rows[] = {
        {"Frame1", {7, 7, 494, 57}},
        {"Frame2", {7, 66, 495, 370}},
        {"Label1", {451, 443, 50, 19}},
    };
    for (const auto& [name, place] : rows)
        EXPECT_EQ(control(*editor, name)->geometry(), place) << name;
    const std::pair<const char*, QRect> inFrame[] = {
        {"Text3", {65, 15, 194, 19}},     {"Text4", {66, 35, 194, 77}},
        {"Text5", {66, 115, 195, 71}},    {"Check1", {88, 190, 71, 13}},
        {"Check2", {88, 203, 69, 15}},    {"Text12", {332, 11, 96, 19}},
        {"Text13", {332, 31, 159, 19}},   {"Text17", {332, 109, 159, 45}},
        {"Text18", {332, 156, 159, 19}},  {"Command1", {333, 189, 67, 23}},
        {"Command2", {408, 189, 70, 23}}, {"Text6", {5, 226, 484, 136}},
    };
    for (const auto& [name, place] : inFrame)
        EXPECT_EQ(placeIn(control(*editor, name), control(*editor, "Frame2")), place) << name;
    EXPECT_EQ(placeIn(control(*editor, "Text1"), control(*editor, "Frame1")),
              QRect(10, 21, 475, 20));
}

TEST_F(LinkEditorTest, TabVisitsTheFieldsInOrder)
{
    editor->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(editor));
    const char* order[] = {"Text3",    "Text4",    "Text5",  "Check1", "Check2", "Text12",
                           "Text13",   "Text14",   "Text15", "Text16", "Text17", "Text18",
                           "Command1", "Command2", "Text1",  "Text6",  "Text3"};
    for (const char* name : order) {
        ASSERT_TRUE(QApplication::focusWidget());
        EXPECT_EQ(QApplication::focusWidget()->objectName(), name);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
}

TEST_F(LinkEditorTest, OpeningAgainBringsTheSameWindowWithItsEntries)
{
    line("Text3")->setText("kept");
    window->Label16_Click();
    EXPECT_EQ(window->linkEditor(), editor);
    EXPECT_EQ(line("Text3")->text(), "kept");
    const auto editors = QApplication::topLevelWidgets();
    EXPECT_EQ(std::count_if(editors.begin(), editors.end(),
                            [](QWidget* w) { return w->objectName() == "linkEditor"; }),
              1);
}

TEST_F(LinkEditorTest, CloseDiscardsTheEntries)
{
    line("Text13")->clear();
    area("Text6")->setPlainText("mine");
    QTest::mouseClick(control(*editor, "Label1"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->linkEditor(), nullptr);

    window->Label16_Click();
    editor = window->linkEditor();
    ASSERT_TRUE(editor);
    EXPECT_EQ(line("Text13")->text(), "General");
    EXPECT_TRUE(output().isEmpty());
}

TEST_F(LinkEditorTest, StaysOpenWhenTheMainWindowCloses)
{
    window->show();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(window->linkEditor(), editor);
    window.reset();
    ASSERT_TRUE(editor) << "the editor is not deleted with the main window";
    EXPECT_TRUE(editor->isVisible());
}

TEST_F(LinkEditorTest, GenerateReplacesTheOutputWithTheBlock)
{
    area("Text6")->setPlainText("lost");
    QTest::keyClicks(line("Text3"), "My Site ");
    QTest::keyClicks(area("Text4"), "one");
    QTest::keyClick(area("Text4"), Qt::Key_Return);
    QTest::keyClicks(area("Text4"), "two");
    control<QCheckBox>(*editor, "Check2")->setChecked(true);
    generate();

    MetaFields expected = startingFields();
    expected.title = "My Site ";
    expected.keywords = "one\ntwo";
    expected.noindex = true;
    EXPECT_EQ(output(), metaBlock(expected).replace("\r\n", "\n"));
    EXPECT_TRUE(output().contains("CONTENT=\"NOINDEX,FOLLOW\""));
    EXPECT_TRUE(feedback.events.isEmpty());
}

TEST_F(LinkEditorTest, WriteReplacesTheHeadOfTheSavedPage)
{
    QTest::keyClicks(field("Text3"), "me@example.org");
    window->Label9_Click();
    const QByteArray saved = page();
    generate();
    write();

    const QByteArray tail = saved.mid(saved.indexOf("</head>") + 7);
    EXPECT_EQ(page(), metaBlock(startingFields()).toLatin1() + "\r\n<center>\r\n" + tail + "\r\n");
    EXPECT_TRUE(feedback.events.isEmpty()) << "nothing is shown on success";
    EXPECT_TRUE(ftp.calls.isEmpty()) << "Write uploads nothing";

    write();
    EXPECT_EQ(page().count("\n<center>\r\n"), 2);
    EXPECT_EQ(page().count("<HEAD>"), 1);

    window->Label9_Click();
    EXPECT_EQ(page(), saved) << "Save replaces the editor page whole";
}

TEST_F(LinkEditorTest, AnEmptyOutputIsNotWritten)
{
    window->Label9_Click();
    const QByteArray saved = page();
    write();
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].text, "NO HTML code to insert");
    EXPECT_EQ(feedback.messages[0].icon, Feedback::Icon::None);
    EXPECT_EQ(page(), saved);

    area("Text6")->setPlainText("  ");
    write();
    EXPECT_EQ(feedback.messages.size(), 1u);
    EXPECT_TRUE(page().startsWith("  \r\n<center>\r\n"));
}

TEST_F(LinkEditorTest, WriteCopiesTheBannerLinkButSaveKeepsTheDefault)
{
    line("Text1")->setText("<a href=\"mine\">");
    write();
    EXPECT_EQ(values.banner, "<a href=\"mine\">") << "copied even when there is nothing to write";
    window->Label9_Click();
    EXPECT_EQ(values.banner, defaultBanner());
    EXPECT_EQ(page(), onlinePage("192.0.2.7", "", defaultBanner()));
}

TEST_F(LinkEditorTest, AMissingPageIsReportedAndNotCreated)
{
    generate();
    write();
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].icon, Feedback::Icon::Warning);
    EXPECT_TRUE(feedback.messages[0].text.contains(window->pagePath()));
    EXPECT_TRUE(feedback.messages[0].text.contains("Save"));
    EXPECT_FALSE(QFile::exists(window->pagePath()));
}

TEST_F(LinkEditorTest, APageWithoutAHeadIsLeftAsItWas)
{
    ASSERT_TRUE(replaceFile(window->pagePath(), "<html><body>mine</body></html>\r\n"));
    generate();
    write();
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].icon, Feedback::Icon::Warning);
    EXPECT_TRUE(feedback.messages[0].text.contains("</head>"));
    EXPECT_EQ(page(), "<html><body>mine</body></html>\r\n");
}

TEST_F(LinkEditorTest, AReadOnlyFolderKeepsThePageAndWarns)
{
    window->Label9_Click();
    const QByteArray saved = page();
    QFile::setPermissions(dir.path(),
                          QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    generate();
    const bool asRoot = geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(seteuid(65534), 0); // root may write anywhere
    }
    write();
    if (asRoot) {
        ASSERT_EQ(seteuid(0), 0);
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].icon, Feedback::Icon::Warning);
    EXPECT_TRUE(feedback.messages[0].text.contains(window->pagePath()));
    EXPECT_EQ(page(), saved);
}

} // namespace
