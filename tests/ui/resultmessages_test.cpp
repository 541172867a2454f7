#include "publish/headwriting.h"
#include "publish/serverconnection.h"
#include "publish/uploadpage.h"
#include "recordingfeedback.h"
#include "ui/resultmessages.h"

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

using Icon = Feedback::Icon;

TEST(ResultMessages, ASuccessfulUploadBeepsBeforeItsInformationMessage)
{
    RecordingFeedback feedback;
    showResult(feedback, UploadResult{UploadResult::Status::Transferred, "File Transferred!",
                                      "The server refused to rename"});
    EXPECT_EQ(feedback.events, (QStringList{"beep", "message:File Transferred!"}));
    EXPECT_EQ(feedback.messages[0].icon, Icon::Information);
    EXPECT_EQ(feedback.messages[0].details, "The server refused to rename") << "under the details";
}

TEST(ResultMessages, FailuresNeverBeepAndCarryTheirDetails)
{
    RecordingFeedback feedback;
    showResult(feedback, UploadResult{UploadResult::Status::Failed,
                                      "Unable to transfer to remote system", "550 no"});
    showResult(feedback, ConnectResult{ConnectResult::Status::Failed,
                                       "Unable to connect to the specified host", "530 no"});
    showResult(feedback, OfflinePageResult{OfflinePageResult::Status::UploadFailed,
                                           "Unable to transfer to remote system", "421 gone"});
    EXPECT_FALSE(feedback.events.contains("beep"));
    ASSERT_EQ(feedback.messages.size(), 3u);
    EXPECT_EQ(feedback.messages[0].icon, Icon::Warning);
    EXPECT_EQ(feedback.messages[0].details, "550 no");
    EXPECT_EQ(feedback.messages[1].icon, Icon::Critical);
    EXPECT_EQ(feedback.messages[1].details, "530 no");
    EXPECT_EQ(feedback.messages[2].icon, Icon::Warning);
    EXPECT_EQ(feedback.messages[2].details, "421 gone");
}

TEST(ResultMessages, PlainMessagesHaveNoIcon)
{
    RecordingFeedback feedback;
    showResult(
        feedback,
        ConnectResult{ConnectResult::Status::MissingField, "You have to enter a Hostname.", {}});
    showResult(feedback,
               ConnectResult{ConnectResult::Status::Connected, "Connected to server!", {}});
    showResult(feedback,
               WriteHeadResult{WriteHeadResult::Status::NothingToInsert, "NO HTML code to insert"});
    ASSERT_EQ(feedback.messages.size(), 3u);
    for (const auto& shown : feedback.messages)
        EXPECT_EQ(shown.icon, Icon::None) << shown.text.toStdString();
}

TEST(ResultMessages, FileProblemsWarnAndAWrittenHeadShowsNothing)
{
    RecordingFeedback feedback;
    showResult(feedback, WriteHeadResult{});
    EXPECT_TRUE(feedback.events.isEmpty());
    showResult(feedback, OfflinePageResult{OfflinePageResult::Status::PageNotWritten,
                                           "The page file could not be written",
                                           {}});
    for (const auto status :
         {WriteHeadResult::Status::PageUnreadable, WriteHeadResult::Status::NoHead,
          WriteHeadResult::Status::WriteFailed})
        showResult(feedback, WriteHeadResult{status, "why"});
    ASSERT_EQ(feedback.messages.size(), 4u);
    for (const auto& shown : feedback.messages)
        EXPECT_EQ(shown.icon, Icon::Warning);
}

} // namespace
