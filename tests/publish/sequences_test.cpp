#include "faketransferclient.h"
#include "page/pagefile.h"
#include "page/pagetext.h"
#include "publish/headwriting.h"
#include "publish/serverconnection.h"
#include "publish/uploadpage.h"
#include "testftpserver.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

class SequencesTest : public ::testing::Test
{
protected:
    FakeTransferClient ftp;
    QTemporaryDir dir;
    QString page = pageFilePath(dir.path());
};

TEST_F(SequencesTest, UploadSendsThePageFileAsQuendleHtmAndSaysHowItWent)
{
    const UploadResult done = UploadPage(ftp, "/www", page);
    EXPECT_EQ(ftp.calls, QStringList{"Upload /www " + page + " quendle.htm"});
    EXPECT_EQ(done.status, UploadResult::Status::Transferred);
    EXPECT_EQ(done.text, "File Transferred!");

    ftp.uploadError = TransferError::TransferFailed;
    const UploadResult failed = UploadPage(ftp, "", page);
    EXPECT_EQ(ftp.calls.last(), "Upload  " + page + " quendle.htm");
    EXPECT_EQ(failed.status, UploadResult::Status::Failed);
    EXPECT_EQ(failed.text, "Unable to transfer to remote system");
    EXPECT_EQ(failed.details, "530 fake failure");
}

TEST_F(SequencesTest, EmptyLoginFieldsAreReportedFirstHostThenUserThenPassword)
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
        const ConnectResult result = connectToServer(ftp, {row.host, row.user, row.password});
        EXPECT_EQ(result.status, ConnectResult::Status::MissingField);
        EXPECT_EQ(result.text, row.message);
    }
    EXPECT_TRUE(ftp.calls.isEmpty()) << "the component is not called";
}

TEST_F(SequencesTest, BlanksCountAsFilledIn)
{
    EXPECT_EQ(connectToServer(ftp, {" ", " ", " "}).status, ConnectResult::Status::Connected);
    EXPECT_EQ(ftp.calls, QStringList{"Connect" + QString(6, ' ')});
}

TEST_F(SequencesTest, ConnectLogsInWithTheFieldsAsTheyStand)
{
    const ConnectResult connected = connectToServer(ftp, {"h:21", "u", "p"});
    EXPECT_EQ(ftp.calls, QStringList{"Connect h:21 u p"});
    EXPECT_EQ(connected.status, ConnectResult::Status::Connected);
    EXPECT_EQ(connected.text, "Connected to server!");

    ftp.connectError = TransferError::LoginRefused;
    const ConnectResult failed = connectToServer(ftp, {"h", "u", "p"});
    EXPECT_EQ(failed.status, ConnectResult::Status::Failed);
    EXPECT_EQ(failed.text, "Unable to connect to the specified host");
    EXPECT_EQ(failed.details, "530 fake failure");
}

TEST_F(SequencesTest, AnUntrustedServerBecomesAQuestionAndIsTrustedOnlyWhenAccepted)
{
    ftp.connectError = TransferError::CertificateNotTrusted;
    const ConnectResult untrusted = connectToServer(ftp, {"h", "u", "p"});
    EXPECT_EQ(untrusted.status, ConnectResult::Status::Untrusted);
    EXPECT_EQ(untrusted.text, "The certificate of h:21 cannot be trusted.\n\nDo you want to "
                              "trust this certificate for the rest of this session and connect?");

    const ConnectResult refused = refuseServer(untrusted);
    EXPECT_EQ(refused.status, ConnectResult::Status::Failed);
    EXPECT_EQ(refused.text, "Unable to connect to the specified host");
    EXPECT_EQ(refused.details, "530 fake failure");
    EXPECT_EQ(ftp.calls, QStringList{"Connect h u p"}) << "nothing is trusted on No";

    const ConnectResult accepted = logInTrusting(ftp, {"h", "u", "p"}, untrusted);
    EXPECT_EQ(accepted.status, ConnectResult::Status::Connected);
    EXPECT_EQ(ftp.calls, (QStringList{"Connect h u p", "Trust h:21", "Connect h u p"}));

    // A changed host key is never a question.
    ftp.connectError = TransferError::HostKeyChanged;
    EXPECT_EQ(connectToServer(ftp, {"h", "u", "p"}).status, ConnectResult::Status::Failed);
}

TEST_F(SequencesTest, TheOfflinePageIsWrittenThenUploaded)
{
    ftp.uploadError = TransferError::TransferFailed;
    const OfflinePageResult result = publishOfflinePage(ftp, "/www", page, "me@example.org");
    EXPECT_EQ(readWholeFile(page), offlinePage("me@example.org"));
    EXPECT_EQ(ftp.calls, QStringList{"Upload /www " + page + " quendle.htm"});
    EXPECT_EQ(result.status, OfflinePageResult::Status::UploadFailed);
    EXPECT_EQ(result.text, "Unable to transfer to remote system");
}

TEST_F(SequencesTest, NoUploadWhenTheOfflinePageCannotBeWritten)
{
    const QString unwritable = pageFilePath(dir.path() + "/missing-folder");
    const OfflinePageResult result = publishOfflinePage(ftp, "/www", unwritable, "");
    EXPECT_TRUE(ftp.calls.isEmpty());
    EXPECT_EQ(result.status, OfflinePageResult::Status::PageNotWritten);
    EXPECT_TRUE(result.text.contains(unwritable));
}

TEST_F(SequencesTest, WriteHeadLeavesThePageAloneUnlessItCanReplaceTheHead)
{
    EXPECT_EQ(writeHead(page, "<HEAD></HEAD>").status, WriteHeadResult::Status::PageUnreadable);
    EXPECT_FALSE(QFile::exists(page)) << "nothing is created";

    ASSERT_TRUE(replaceFile(page, "<html><body>no head</body></html>\r\n"));
    EXPECT_EQ(writeHead(page, "<HEAD></HEAD>").status, WriteHeadResult::Status::NoHead);
    EXPECT_EQ(writeHead(page, "").text, "NO HTML code to insert");
    EXPECT_EQ(readWholeFile(page), "<html><body>no head</body></html>\r\n");

    ASSERT_TRUE(replaceFile(page, "<head></HEAD>\r\nbody\r\n"));
    EXPECT_EQ(writeHead(page, "<H>").status, WriteHeadResult::Status::Written);
    EXPECT_EQ(readWholeFile(page), "<H>\r\n<center>\r\n\r\nbody\r\n\r\n");
}

} // namespace
