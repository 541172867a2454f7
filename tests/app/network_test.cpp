#include "ftp/curltransferclient.h"
#include "ftploader/loadedtransferclient.h"
#include "mainwindowfixture.h"
#include "page/pagetext.h"
#include "page/productsettings.h"
#include "testftpserver.h"
#include "ui/qtfeedback.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

using namespace quendle;
using namespace quendle::testing;

namespace {

// The main window on the real FTP component, loaded from its module as the program does, talking
// to a real server on loopback.
class NetworkTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        serverHolder = std::make_unique<TestFtpServer>(options);
        ASSERT_TRUE(server().running()) << server().startError().toStdString();
        window = makeWindow(transfer);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    void typeLogin()
    {
        QTest::keyClicks(field("Host"), server().host());
        QTest::keyClicks(field("UserName"), TestFtpServer::kUser);
        QTest::keyClicks(field("Password"), TestFtpServer::kPassword);
    }

    void click(const char* name) { QTest::mouseClick(control(*window, name), Qt::LeftButton); }

    TestFtpServer& server() { return *serverHolder; }

    TestFtpServer::Options options;
    std::unique_ptr<TestFtpServer> serverHolder;
    LoadedTransferClient transfer{QStringLiteral(QUENDLE_TRANSFER_MODULE)};
};

TEST_F(NetworkTest, ConnectSavePublishQuickUploadAndDisconnect)
{
    server().makeDirectory("/tarrowby/public_html");
    typeLogin();
    QTest::keyClicks(field("Text3"), "me@example.org");
    click("Label10");
    ASSERT_EQ(feedback.messages.back().text, "Connected to server!")
        << feedback.messages.back().details.toStdString();
    EXPECT_TRUE(timer()->isActive());

    click("Label9");
    const QByteArray online = onlinePage("192.0.2.7", "me@example.org", defaultBanner());
    click("Label8");
    EXPECT_EQ(feedback.messages.back().text, "File Transferred!");
    EXPECT_EQ(readWholeFile(server().localPath("/quendle.htm")), online);
    click("Label8");
    EXPECT_EQ(readWholeFile(server().localPath("/quendle.htm")), online);

    QTest::mouseDClick(window.get(), Qt::LeftButton, {}, QPoint(50, 435));
    EXPECT_EQ(readWholeFile(server().localPath("/tarrowby/public_html/quendle.htm")), online);

    click("Label13");
    EXPECT_EQ(feedback.messages.back().text, "File Transferred!");
    EXPECT_EQ(readWholeFile(server().localPath("/quendle.htm")), offlinePage("me@example.org"));
    EXPECT_EQ(readWholeFile(window->pagePath()), offlinePage("me@example.org"));
    EXPECT_FALSE(timer()->isActive());
    EXPECT_EQ(server().loginCount(), 1);
    EXPECT_EQ(server().quitCount(), 1);

    click("Label8");
    EXPECT_EQ(feedback.messages.back().text, "Unable to transfer to remote system")
        << "no upload after Disconnect";
    for (const auto& shown : feedback.messages)
        EXPECT_FALSE(shown.details.contains(TestFtpServer::kPassword));
}

TEST_F(NetworkTest, AMissingRemoteDirectoryWarns)
{
    typeLogin();
    click("Label10");
    click("Label9");
    field("ServerURL")->setText("/not/there");
    click("Label8");
    EXPECT_EQ(feedback.messages.back().text, "Unable to transfer to remote system");
    EXPECT_EQ(feedback.messages.back().icon, Feedback::Icon::Warning);
    EXPECT_TRUE(feedback.messages.back().details.contains("550"));
}

TEST_F(NetworkTest, AWrongPasswordFailsAtConnectAndTheWindowStays)
{
    QTest::keyClicks(field("Host"), server().host());
    QTest::keyClicks(field("UserName"), TestFtpServer::kUser);
    QTest::keyClicks(field("Password"), "wrong");
    click("Label10");
    EXPECT_EQ(feedback.messages.back().text, "Unable to connect to the specified host");
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(timer()->isActive());
}

TEST_F(MainWindowTest, ATransferModuleThatCannotBeLoadedFailsTheConnect)
{
    LoadedTransferClient unloadable(dir.filePath("missing/quendle-ftp.so"));
    window = makeWindow(unloadable);
    fillLogin();
    window->Label10_Click();
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].text, "Unable to connect to the specified host");
    EXPECT_TRUE(feedback.messages[0].details.startsWith("The FTP component could not be loaded"))
        << feedback.messages[0].details.toStdString();
    EXPECT_FALSE(timer()->isActive());
    window->Label8_Click();
    EXPECT_EQ(feedback.messages.back().text, "Unable to transfer to remote system");
    window.reset();
}

class ShortIdleTest : public NetworkTest
{
protected:
    ShortIdleTest() { options.idleSeconds = 1; }
};

TEST_F(ShortIdleTest, TheRefreshKeepsWorkingAfterTheServerDropsTheIdleConnection)
{
    typeLogin();
    click("Label10");
    click("Label9");
    timer()->stop();                 // ticks are driven by hand below
    field("Text2")->setText("0.05"); // three ticks
    for (int round = 1; round <= 2; ++round) {
        QThread::msleep(2500);
        tick(3);
        EXPECT_EQ(feedback.messages.back().text, "File Transferred!") << "round " << round;
        EXPECT_EQ(feedback.messages.size(), 1u + round);
    }
    EXPECT_EQ(server().loginCount(), 3);
}

// Shows the real wait cursor while recording the messages.
class CursorFeedback : public RecordingFeedback
{
public:
    void busy(bool on) override
    {
        RecordingFeedback::busy(on);
        real.busy(on);
    }
    QtFeedback real;
};

TEST(SilentServerTest, ConnectGivesUpWithinTheBoundWhileTheWindowRepaints)
{
    SilentServer silent;
    CursorFeedback feedback;
    CurlTransferClient curl;
    ProgramValues values;
    QTemporaryDir dir;
    MainWindow window(feedback, curl, values, dir.path(), [] { return QStringLiteral("1.2.3.4"); });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    control<QLineEdit>(window, "Host")->setText(silent.host());
    control<QLineEdit>(window, "UserName")->setText("u");
    control<QLineEdit>(window, "Password")->setText("p");

    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    window.installEventFilter(&counter);
    int waitCursorSeen = 0;
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, [&] {
        window.update();
        const QCursor* cursor = QGuiApplication::overrideCursor();
        waitCursorSeen += cursor && cursor->shape() == Qt::WaitCursor;
    });
    repaint.start(200);

    QElapsedTimer clock;
    clock.start();
    window.Label10_Click();
    const qint64 elapsed = clock.elapsed();
    repaint.stop();

    EXPECT_GE(elapsed, 15000);
    EXPECT_LE(elapsed, 30000);
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].text, "Unable to connect to the specified host");
    EXPECT_EQ(feedback.cursorOverriddenAtMessage, std::vector<bool>{false});
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_GT(counter.paints, 20) << "the window kept repainting while it waited";
    EXPECT_GT(waitCursorSeen, 20);
    EXPECT_TRUE(window.isVisible());
}

} // namespace
