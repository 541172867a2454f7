#include "fakes.h"
#include "ftp/session.h"
#include "ftp/uploadpage.h"
#include "page/pagefile.h"
#include "page/pagetext.h"
#include "testftpserver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

using Icon = Feedback::Icon;

class SessionTest : public ::testing::Test
{
protected:
    RecordingFeedback feedback;
    FakeFtpClient ftp;
    QTemporaryDir dir;
    QString page = pageFilePath(dir.path());
};

TEST_F(SessionTest, ASuccessfulUploadBeepsThenReportsWithTheInformationIcon)
{
    EXPECT_TRUE(UploadPage(ftp, feedback, "/www", page));
    EXPECT_EQ(ftp.calls, QStringList{"Upload /www " + page + " quendle.htm"});
    EXPECT_EQ(feedback.events, (QStringList{"busy", "idle", "beep", "message:File Transferred!"}));
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].icon, Icon::Information);
}

TEST_F(SessionTest, AFailedUploadWarnsWithTheReasonAndNeverBeeps)
{
    ftp.uploadResult = 550;
    EXPECT_FALSE(UploadPage(ftp, feedback, "", page));
    EXPECT_EQ(ftp.calls, QStringList{"Upload  " + page + " quendle.htm"});
    EXPECT_EQ(feedback.events,
              (QStringList{"busy", "idle", "message:Unable to transfer to remote system"}));
    EXPECT_EQ(feedback.messages[0].icon, Icon::Warning);
    EXPECT_EQ(feedback.messages[0].details, "530 fake failure");
}

TEST_F(SessionTest, EmptyLoginFieldsAreReportedFirstHostThenUserThenPassword)
{
    struct Row
    {
        QString host, user, password, message;
    } rows[] = {
        {"", "", "", "You have to enter a Hostname."},
        {"", "u", "p", "You have to enter a Hostname."},
        {"h", "", "", "You have to enter a Username."},
        {"h", "u", "", "You have to enter a Password."},
    };
    for (const Row& row : rows) {
        RecordingFeedback shown;
        EXPECT_EQ(connectToServer(ftp, shown, row.host, row.user, row.password),
                  ConnectOutcome::MissingField);
        EXPECT_EQ(shown.events, QStringList{"message:" + row.message});
        EXPECT_EQ(shown.messages[0].icon, Icon::None);
    }
    EXPECT_TRUE(ftp.calls.isEmpty());
    EXPECT_TRUE(ftp.ServerHost.isEmpty()) << "no property is set";
}

TEST_F(SessionTest, BlanksCountAsFilledIn)
{
    EXPECT_EQ(connectToServer(ftp, feedback, " ", " ", " "), ConnectOutcome::Connected);
    EXPECT_EQ(ftp.calls, QStringList{"Connect" + QString(6, ' ')});
}

TEST_F(SessionTest, ConnectReportsSuccessWithoutIcon)
{
    EXPECT_EQ(connectToServer(ftp, feedback, "h:21", "u", "p"), ConnectOutcome::Connected);
    EXPECT_EQ(ftp.calls, QStringList{"Connect h:21 u p"});
    EXPECT_EQ(feedback.events, (QStringList{"busy", "idle", "message:Connected to server!"}));
    EXPECT_EQ(feedback.messages[0].icon, Icon::None);
}

TEST_F(SessionTest, AFailedConnectIsCriticalAndComesAfterTheCursorIsRestored)
{
    ftp.connectResult = 7;
    EXPECT_EQ(connectToServer(ftp, feedback, "h", "u", "p"), ConnectOutcome::Failed);
    EXPECT_EQ(feedback.events,
              (QStringList{"busy", "idle", "message:Unable to connect to the specified host"}));
    EXPECT_EQ(feedback.messages[0].icon, Icon::Critical);
    EXPECT_EQ(feedback.messages[0].details, "530 fake failure");
}

TEST_F(SessionTest, DisconnectWritesUploadsAndLogsOutEvenWhenTheUploadFails)
{
    ftp.uploadResult = 1;
    disconnectFromServer(ftp, feedback, "/www", page, "me@example.org");
    EXPECT_EQ(readWholeFile(page), offlinePage("me@example.org"));
    EXPECT_EQ(ftp.calls, (QStringList{"Upload /www " + page + " quendle.htm", "Disconnect"}));
    EXPECT_TRUE(feedback.events.contains("message:Unable to transfer to remote system"));
    EXPECT_EQ(feedback.busyDepth, 0);
}

TEST_F(SessionTest, DisconnectSkipsTheUploadWhenTheOfflinePageCannotBeWritten)
{
    const QString unwritable = pageFilePath(dir.path() + "/missing-folder");
    disconnectFromServer(ftp, feedback, "/www", unwritable, "");
    EXPECT_EQ(ftp.calls, QStringList{"Disconnect"});
    ASSERT_EQ(feedback.messages.size(), 1u);
    EXPECT_EQ(feedback.messages[0].icon, Icon::Warning);
    EXPECT_TRUE(feedback.messages[0].text.contains(unwritable));
}

} // namespace
