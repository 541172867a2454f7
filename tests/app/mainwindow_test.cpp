#include "mainwindowfixture.h"
#include "page/pagetext.h"
#include "page/productsettings.h"
#include "testftpserver.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSet>

using namespace quendle;
using namespace quendle::testing;

namespace {

const QColor kNavy(0, 0, 128);
const QColor kDarkBlue(0, 0, 192);
const QColor kGreen(0, 255, 0);
const QColor kYellow(255, 255, 0);
const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);

QColor textColour(const QWidget* widget)
{
    return widget->palette().color(QPalette::WindowText);
}

QString previewShown(const QString& address, const QString& email)
{
    // The field shows line ends as plain line feeds.
    return pagePreview(address, email).replace("\r\n", "\n");
}

TEST_F(MainWindowTest, WindowHasItsCaptionSizeColourAndIcon)
{
    EXPECT_EQ(window->windowTitle(), "Quendle IP Publisher");
    EXPECT_EQ(window->size(), QSize(389, 450));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "fixed size";
    EXPECT_EQ(window->palette().color(QPalette::Window), kNavy);
    EXPECT_TRUE(window->autoFillBackground());
    EXPECT_FALSE(window->windowIcon().pixmap(32, 32).isNull());
}

TEST_F(MainWindowTest, WindowIconIsTheProgramIconIn32By32PixelsAndAtMost16Colours)
{
    const QImage built(":/quendle/quendle-32.png");
    ASSERT_EQ(built.size(), QSize(32, 32));
    QSet<QRgb> colours;
    for (int y = 0; y < built.height(); ++y)
        for (int x = 0; x < built.width(); ++x)
            colours.insert(built.pixel(x, y));
    EXPECT_LE(colours.size(), 16);
    EXPECT_GE(colours.size(), 4) << "a drawing, not a blank";

    const QImage shown = window->windowIcon().pixmap(32, 32).toImage();
    EXPECT_EQ(shown.convertToFormat(QImage::Format_ARGB32),
              built.convertToFormat(QImage::Format_ARGB32));
}

TEST_F(MainWindowTest, ControlsStandWhereTheLayoutPutsThem)
{
    struct Row
    {
        const char* name;
        const char* container;
        QRect place;
    } rows[] = {
        {"Label1", "Form1", {2, 4, 382, 411}},       {"Frame2", "Form1", {10, 8, 364, 45}},
        {"Label15", "Frame2", {5, 17, 45, 17}},      {"Text4", "Frame2", {50, 14, 306, 19}},
        {"Frame1", "Form1", {8, 57, 367, 174}},      {"Label6", "Frame1", {6, 20, 25, 13}},
        {"Host", "Frame1", {74, 16, 197, 19}},       {"Label5", "Frame1", {6, 44, 51, 13}},
        {"UserName", "Frame1", {74, 40, 197, 19}},   {"Label4", "Frame1", {6, 68, 49, 13}},
        {"Password", "Frame1", {74, 64, 197, 19}},   {"Label14", "Frame1", {7, 94, 56, 13}},
        {"Text3", "Frame1", {74, 86, 197, 19}},      {"Anonymous", "Frame1", {7, 119, 81, 17}},
        {"Label11", "Frame1", {98, 120, 71, 21}},    {"Text2", "Frame1", {169, 117, 22, 19}},
        {"Label12", "Frame1", {194, 120, 40, 18}},   {"Label3", "Frame1", {9, 139, 63, 29}},
        {"ServerURL", "Frame1", {76, 143, 287, 19}}, {"Label10", "Frame1", {288, 17, 63, 25}},
        {"Label13", "Frame1", {284, 41, 72, 16}},    {"Frame3", "Form1", {9, 232, 367, 174}},
        {"Text1", "Frame3", {9, 16, 353, 152}},      {"Label16", "Form1", {115, 426, 111, 19}},
        {"Label9", "Form1", {230, 424, 40, 19}},     {"Label8", "Form1", {277, 424, 57, 19}},
        {"Label7", "Form1", {340, 423, 37, 16}},
    };
    for (const Row& row : rows) {
        const QWidget* widget = control(*window, row.name);
        ASSERT_TRUE(widget);
        const QWidget* container = QLatin1String(row.container) == QLatin1String("Form1")
                                       ? window.get()
                                       : control(*window, row.container);
        EXPECT_EQ(widget->parentWidget(), container) << row.name;
        EXPECT_EQ(widget->geometry(), row.place) << row.name;
    }
}

TEST_F(MainWindowTest, CaptionsStartTextsAndTooltips)
{
    const std::pair<const char*, const char*> captions[] = {
        {"Label15", "HTTP://"},          {"Label6", "Host:"},
        {"Label5", "Username:"},         {"Label4", "Password:"},
        {"Label14", "Email:"},           {"Label11", "Refresh every"},
        {"Label12", "minutes"},          {"Label3", "Remote Directory:"},
        {"Label10", "Connect"},          {"Label13", "Disconnect"},
        {"Label16", "Link/META Editor"}, {"Label9", "Save"},
        {"Label8", "Publish"},           {"Label7", "EXIT"},
    };
    for (const auto& [name, caption] : captions)
        EXPECT_EQ(control<QLabel>(*window, name)->text(), caption) << name;
    EXPECT_EQ(control<QGroupBox>(*window, "Frame1")->title(), "Connection Options:");
    EXPECT_EQ(control<QGroupBox>(*window, "Frame2")->title(), "Current IP address:");
    EXPECT_EQ(control<QGroupBox>(*window, "Frame3")->title(), "Web Page:");
    EXPECT_EQ(control<QCheckBox>(*window, "Anonymous")->text(), "Anonymous");
    EXPECT_FALSE(control<QCheckBox>(*window, "Anonymous")->isChecked());

    EXPECT_EQ(field("Text2")->text(), "2");
    EXPECT_EQ(field("ServerURL")->text(), "/");
    for (const char* empty : {"Host", "UserName", "Password", "Text3"})
        EXPECT_TRUE(field(empty)->text().isEmpty()) << empty;
    EXPECT_EQ(field("Text4")->text(), "192.0.2.7");
    EXPECT_EQ(field("Password")->echoMode(), QLineEdit::Password);
    QTest::keyClicks(field("Password"), "pw d");
    EXPECT_EQ(field("Password")->displayText(), "****");
    EXPECT_EQ(field("Password")->text(), "pw d");

    const std::pair<const char*, const char*> tooltips[] = {
        {"Label10", "Click to Connect to Server"},
        {"Label9", "Click to Save Web Page"},
        {"Label8", "Click to Upload Web Page"},
        {"Label7", "Click to Exit program"},
        {"Label13", ""},
        {"Label16", ""},
        {"Host", ""},
    };
    for (const auto& [name, tip] : tooltips)
        EXPECT_EQ(control(*window, name)->toolTip(), tip) << name;
    EXPECT_EQ(timer()->interval(), 1000);
    EXPECT_FALSE(timer()->isActive());
}

TEST_F(MainWindowTest, ColoursAndFonts)
{
    EXPECT_EQ(control(*window, "Label1")->palette().color(QPalette::Window), kDarkBlue);
    for (const char* frame : {"Frame1", "Frame2", "Frame3", "Anonymous"}) {
        EXPECT_EQ(control(*window, frame)->palette().color(QPalette::Window), kDarkBlue) << frame;
        EXPECT_EQ(textColour(control(*window, frame)), kWhite) << frame;
    }
    for (const char* name : {"Text4", "Host", "UserName", "Password", "Text3", "ServerURL"}) {
        EXPECT_EQ(field(name)->palette().color(QPalette::Base), kBlack) << name;
        EXPECT_EQ(field(name)->palette().color(QPalette::Text), kGreen) << name;
    }
    const auto* preview = control(*window, "Text1");
    EXPECT_EQ(preview->palette().color(QPalette::Base), kBlack);
    EXPECT_EQ(preview->palette().color(QPalette::Text), kGreen);
    EXPECT_EQ(field("Text2")->palette().color(QPalette::Base),
              QApplication::palette().color(QPalette::Base));
    for (const char* name : {"Label15", "Label6", "Label5", "Label4", "Label14", "Label3"})
        EXPECT_EQ(textColour(control(*window, name)), kWhite) << name;
    for (const char* name : {"Label11", "Label12"})
        EXPECT_EQ(textColour(control(*window, name)), kGreen) << name;

    const std::pair<const char*, double> buttons[] = {
        {"Label10", 9.75}, {"Label9", 9.75},  {"Label8", 9.75},
        {"Label7", 9.75},  {"Label13", 8.25}, {"Label16", 8.25},
    };
    for (const auto& [name, points] : buttons) {
        const QWidget* button = control(*window, name);
        EXPECT_EQ(textColour(button), kGreen) << name;
        EXPECT_FALSE(button->autoFillBackground()) << name << " is transparent";
        EXPECT_TRUE(button->font().bold()) << name;
        EXPECT_DOUBLE_EQ(button->font().pointSizeF(), points) << name;
    }
    EXPECT_FALSE(field("Host")->font().bold());
}

TEST_F(MainWindowTest, FocusStartsInThePreviewAndTabVisitsTheFieldsInOrder)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const char* order[] = {"Text1",     "Host",  "UserName", "Password", "Anonymous",
                           "ServerURL", "Text2", "Text3",    "Text4",    "Text1"};
    for (const char* name : order) {
        ASSERT_TRUE(QApplication::focusWidget());
        EXPECT_EQ(QApplication::focusWidget()->objectName(), name);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
}

TEST_F(MainWindowTest, StartUpComposesThePreviewAndTheLimitButWritesNothing)
{
    EXPECT_EQ(control<QPlainTextEdit>(*window, "Text1")->toPlainText(),
              previewShown("192.0.2.7", ""));
    EXPECT_EQ(values.refresh.limit(), 120);
    EXPECT_FALSE(QFile::exists(window->pagePath()));
    EXPECT_TRUE(ftp.calls.isEmpty());
    EXPECT_TRUE(feedback.events.isEmpty());
}

TEST_F(MainWindowTest, StartUpLeavesTheTickCountAlone)
{
    values.refresh.setInterval("1");
    for (int i = 0; i < 33; ++i)
        values.refresh.tick(false);
    window = makeWindow(ftp);
    EXPECT_EQ(values.refresh.count(), 33) << "putting the design values in runs no change handler";
    EXPECT_EQ(values.refresh.limit(), 120);
}

TEST_F(MainWindowTest, EveryEmailEditRecomposesThePreview)
{
    auto* preview = control<QPlainTextEdit>(*window, "Text1");
    QLineEdit* email = field("Text3");
    QTest::keyClicks(email, "me@x");
    EXPECT_EQ(preview->toPlainText(), previewShown("192.0.2.7", "me@x"));
    QTest::keyClick(email, Qt::Key_Backspace);
    EXPECT_EQ(preview->toPlainText(), previewShown("192.0.2.7", "me@"));

    preview->setPlainText("typed by hand");
    field("Text4")->setText("203.0.113.9");
    EXPECT_EQ(preview->toPlainText(), "typed by hand") << "only e-mail edits recompose";
    email->clear();
    EXPECT_EQ(preview->toPlainText(), previewShown("203.0.113.9", ""));
}

TEST_F(MainWindowTest, IntervalEditsSetTheLimitAndRestartTheCount)
{
    tick(50);
    QLineEdit* interval = field("Text2");
    interval->clear();
    EXPECT_EQ(values.refresh.limit(), 0);
    tick(5);
    QTest::keyClicks(interval, "10");
    EXPECT_EQ(values.refresh.limit(), 600);
    EXPECT_EQ(values.refresh.count(), 0);
    interval->setText("1e308");
    EXPECT_EQ(values.refresh.limit(), 0) << "an overflowing product gives no refresh";
}

TEST_F(MainWindowTest, SaveWritesTheOnlinePageBesideTheProgram)
{
    QTest::keyClicks(field("Text3"), "me@example.org");
    QTest::mouseClick(control(*window, "Label9"), Qt::LeftButton);
    EXPECT_EQ(window->pagePath(), dir.path() + "/quendle.htm");
    EXPECT_EQ(readWholeFile(window->pagePath()),
              onlinePage("192.0.2.7", "me@example.org", defaultBanner()));
    EXPECT_EQ(values.banner, defaultBanner());
    EXPECT_TRUE(feedback.events.isEmpty()) << "Save shows nothing";
    EXPECT_TRUE(ftp.calls.isEmpty()) << "Save uploads nothing";

    values.banner = "<b>someone else's</b>";
    field("Text3")->clear();
    field("Text4")->clear();
    window->Label9_Click();
    EXPECT_EQ(readWholeFile(window->pagePath()), onlinePage("", "", defaultBanner()));
}

TEST_F(MainWindowTest, AFailedSaveWarnsAndTheProgramGoesOn)
{
    MainWindow elsewhere(feedback, ftp, values, dir.path() + "/no-such-folder",
                         [] { return QStringLiteral("192.0.2.7"); });
    elsewhere.Label9_Click();
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].icon, Feedback::Icon::Warning);
    EXPECT_TRUE(feedback.messages[0].text.contains(elsewhere.pagePath()));
}

TEST_F(MainWindowTest, AnUntrustedServerIsAskedAboutOutsideTheWaitAndConnectsOnlyOnYes)
{
    fillLogin();
    ftp.connectError = TransferError::CertificateNotTrusted;
    window->Label10_Click();
    ASSERT_EQ(feedback.questions.size(), 1);
    EXPECT_TRUE(feedback.questions[0].startsWith("The certificate of h:21 cannot be trusted."));
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].text, "Unable to connect to the specified host");
    EXPECT_EQ(feedback.messages[0].icon, Feedback::Icon::Critical);
    EXPECT_EQ(feedback.messages[0].details, "530 fake failure");
    EXPECT_FALSE(timer()->isActive());

    feedback.events.clear();
    feedback.answers = {true};
    window->Label10_Click();
    EXPECT_EQ(feedback.events, (QStringList{"busy", "idle", "question:" + feedback.questions[1],
                                            "busy", "idle", "message:Connected to server!"}));
    EXPECT_EQ(ftp.calls.filter("Trust"), QStringList{"Trust h:21"});
    EXPECT_TRUE(timer()->isActive());
}

TEST_F(MainWindowTest, ExitAndTheTitleBarCloseTheWindowAndStopTheRefresh)
{
    window->show();
    timer()->start();
    QTest::mouseClick(control(*window, "Label7"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(timer()->isActive());
    EXPECT_TRUE(ftp.calls.isEmpty()) << "nothing is published on exit";
    EXPECT_FALSE(QFile::exists(window->pagePath()));

    window->show();
    timer()->start();
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(timer()->isActive());
}

class HoverTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // Moves the pointer to the middle of a control (or a point of the window).
    void moveOnto(const char* name)
    {
        const QWidget* target = control(*window, name);
        QTest::mouseMove(window.get(), target->mapTo(window.get(), target->rect().center()));
    }
    void moveTo(QPoint point) { QTest::mouseMove(window.get(), point); }

    // Which of the four hover buttons are yellow, as "Connect Save Publish EXIT" initials.
    QString yellow()
    {
        QString result;
        for (const auto& [name, letter] : {std::pair{"Label10", 'C'}, std::pair{"Label9", 'S'},
                                           std::pair{"Label8", 'P'}, std::pair{"Label7", 'E'}})
            if (textColour(control(*window, name)) == kYellow)
                result += QLatin1Char(letter);
        return result;
    }
};

TEST_F(HoverTest, EachButtonTurnsYellowAndTheOthersAsTheTableSays)
{
    EXPECT_EQ(yellow(), "");
    moveOnto("Label9");
    EXPECT_EQ(yellow(), "S");
    moveOnto("Label8");
    EXPECT_EQ(yellow(), "P") << "from Save straight onto Publish";
    moveOnto("Label7");
    EXPECT_EQ(yellow(), "E");
    moveOnto("Label10");
    EXPECT_EQ(yellow(), "CE") << "Connect turns only itself yellow";
    moveOnto("Label9");
    EXPECT_EQ(yellow(), "S");
}

TEST_F(HoverTest, TheSurfacesTurnButtonsGreen)
{
    moveOnto("Label10");
    moveTo({50, 435}); // the bottom strip, left of the buttons
    EXPECT_EQ(yellow(), "");
    moveOnto("Label9");
    moveOnto("Label10");
    moveTo({8 + 300, 57 + 110}); // inside "Connection Options:", clear of its controls
    EXPECT_EQ(yellow(), "S") << "the frame's surface greens Connect only";
    moveTo({386, 200}); // the right margin
    EXPECT_EQ(yellow(), "");
}

TEST_F(HoverTest, OtherControlsChangeNothing)
{
    moveOnto("Label10");
    moveOnto("Label13");
    EXPECT_EQ(yellow(), "C") << "Disconnect has no hover handler";
    moveOnto("Label7");
    for (const char* name :
         {"Host", "Label6", "Text1", "Frame2", "Frame3", "Label16", "Anonymous", "Text2"}) {
        moveOnto(name);
        EXPECT_EQ(yellow(), "E") << name;
    }
    moveTo({5, 300}); // the background panel, left of the frames
    EXPECT_EQ(yellow(), "E");
    for (const char* name : {"Label13", "Label16"})
        EXPECT_EQ(textColour(control(*window, name)), kGreen) << name;
}

} // namespace
