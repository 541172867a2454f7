#include "mainwindowfixture.h"
#include "page/pagetext.h"
#include "testftpserver.h"

#include <QFile>

using namespace quendle;
using namespace quendle::testing;

namespace {

using Icon = Feedback::Icon;

QString uploadOf(const MainWindow& window, const QString& directory)
{
    return "Upload " + directory + " " + window.pagePath() + " quendle.htm";
}

TEST_F(MainWindowTest, ConnectEnablesTheRefreshOnlyAfterItsMessage)
{
    fillLogin();
    bool timerOnDuringMessage = true;
    feedback.onMessage = [&](const QString&) { timerOnDuringMessage = timer()->isActive(); };
    window->Label10_Click();
    EXPECT_EQ(ftp.calls, QStringList{"Connect ftp.example.org me pw"});
    EXPECT_EQ(feedback.events, (QStringList{"busy", "idle", "message:Connected to server!"}));
    EXPECT_FALSE(timerOnDuringMessage);
    EXPECT_TRUE(timer()->isActive());
}

TEST_F(MainWindowTest, AMissingLoginFieldLeavesTheRefreshAsItWas)
{
    field("Host")->setText("h");
    window->Label10_Click();
    EXPECT_EQ(feedback.events, QStringList{"message:You have to enter a Username."});
    EXPECT_FALSE(timer()->isActive());
    timer()->start();
    window->Label10_Click();
    EXPECT_TRUE(timer()->isActive());
    EXPECT_TRUE(ftp.calls.isEmpty());
}

TEST_F(MainWindowTest, AFailedConnectKeepsTheWindowAndItsFieldsAndStopsTheRefresh)
{
    window->show();
    fillLogin();
    field("Text3")->setText("me@example.org");
    window->Label10_Click();
    ASSERT_TRUE(timer()->isActive());

    ftp.connectError = TransferError::ConnectionFailed;
    window->Label10_Click();
    EXPECT_EQ(feedback.messages.back().text, "Unable to connect to the specified host");
    EXPECT_EQ(feedback.messages.back().icon, Icon::Critical);
    EXPECT_EQ(feedback.messages.back().details, "530 fake failure");
    EXPECT_FALSE(feedback.cursorOverriddenAtMessage.back()) << "the cursor is back first";
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(timer()->isActive());
    EXPECT_EQ(field("Host")->text(), "ftp.example.org");
    EXPECT_EQ(field("Password")->text(), "pw");
    EXPECT_EQ(field("Text3")->text(), "me@example.org");
}

TEST_F(MainWindowTest, DisconnectPublishesTheOfflinePageThenLogsOut)
{
    fillLogin();
    window->Label10_Click();
    field("Text3")->setText("me@example.org");
    field("ServerURL")->setText("/www");
    ftp.uploadError =
        TransferError::TransferFailed; // even a failed upload is followed by the log-out
    window->Label13_Click();
    EXPECT_EQ(readWholeFile(window->pagePath()), offlinePage("me@example.org"));
    EXPECT_EQ(ftp.calls.mid(1), (QStringList{uploadOf(*window, "/www"), "Disconnect"}));
    EXPECT_EQ(feedback.messages.back().text, "Unable to transfer to remote system");
    EXPECT_EQ(feedback.busyDepth, 0);
    EXPECT_FALSE(timer()->isActive());
}

TEST_F(MainWindowTest, PublishAndTheQuickUploadSendThePageAsItIs)
{
    field("ServerURL")->setText("/www");
    window->Label8_Click();
    EXPECT_EQ(ftp.calls, QStringList{uploadOf(*window, "/www")});
    EXPECT_EQ(feedback.events, (QStringList{"busy", "idle", "beep", "message:File Transferred!"}));
    EXPECT_FALSE(QFile::exists(window->pagePath())) << "Publish does not save first";

    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTest::mouseDClick(window.get(), Qt::LeftButton, {}, QPoint(50, 435));
    EXPECT_EQ(ftp.calls.last(), uploadOf(*window, "/tarrowby/public_html"));

    const qsizetype before = ftp.calls.size();
    QTest::mouseDClick(control(*window, "Frame3"), Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseDClick(window.get(), Qt::LeftButton, {}, QPoint(5, 300)); // the panel
    QTest::mouseDClick(control(*window, "Label8"), Qt::LeftButton);
    EXPECT_EQ(ftp.calls.size(), before + 1) << "only the click on Publish uploads";
}

TEST_F(MainWindowTest, PublishDoesNotRestartTheRefreshCount)
{
    tick(100);
    window->Label8_Click();
    window->Label9_Click();
    tick(19);
    EXPECT_EQ(ftp.calls.size(), 1);
    tick(1);
    EXPECT_EQ(ftp.calls.size(), 2);
}

// On which ticks after the count restarted a refresh upload ran, with the given interval.
std::vector<int> refreshTicks(MainWindow& window, FakeTransferClient& ftp, const QString& interval,
                              int ticks)
{
    control<QLineEdit>(window, "Text2")->setText(interval);
    std::vector<int> ran;
    for (int tick = 1; tick <= ticks; ++tick) {
        const qsizetype before = ftp.calls.size();
        window.Timer1_Timer();
        if (ftp.calls.size() > before)
            ran.push_back(tick);
    }
    return ran;
}

TEST_F(MainWindowTest, TheRefreshUploadsWhenTheCountReachesTheInterval)
{
    field("ServerURL")->setText("/www");
    EXPECT_EQ(refreshTicks(*window, ftp, "2", 250), (std::vector<int>{120, 240}));
    EXPECT_EQ(ftp.calls.first(), uploadOf(*window, "/www"));
    EXPECT_EQ(feedback.messages.back().text, "File Transferred!");
    EXPECT_EQ(refreshTicks(*window, ftp, "2.5", 160), (std::vector<int>{150}));
    EXPECT_EQ(refreshTicks(*window, ftp, "1 5", 901), (std::vector<int>{900}));
    for (const char* never : {"", "0", "abc", "-3", "0.01"})
        EXPECT_TRUE(refreshTicks(*window, ftp, never, 2000).empty()) << never;
}

TEST_F(MainWindowTest, AFailedRefreshIsTriedAgainOneIntervalLater)
{
    ftp.uploadError = TransferError::TransferFailed;
    EXPECT_EQ(refreshTicks(*window, ftp, "1", 125), (std::vector<int>{60, 120}));
    EXPECT_EQ(feedback.messages.back().text, "Unable to transfer to remote system");
}

TEST_F(MainWindowTest, ARefreshDueWhileAMessageIsOpenRunsRightAfterIt)
{
    field("Text2")->setText("1");
    tick(58);
    bool uploadedDuringMessage = false;
    feedback.onMessage = [&](const QString&) {
        feedback.onMessage = nullptr;
        const qsizetype before = ftp.calls.size();
        tick(5); // the 60th tick comes while "File Transferred!" is open
        uploadedDuringMessage = ftp.calls.size() > before;
    };
    window->Label8_Click();
    EXPECT_FALSE(uploadedDuringMessage);
    EXPECT_EQ(ftp.calls.size(), 1);
    tick(1);
    EXPECT_EQ(ftp.calls.size(), 2) << "the refresh that fell due runs on the next tick";
    tick(59);
    EXPECT_EQ(ftp.calls.size(), 2);
    tick(1);
    EXPECT_EQ(ftp.calls.size(), 3);
}

} // namespace
