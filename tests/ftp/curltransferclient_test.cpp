#include "ftp/curltransferclient.h"
#include "testftpserver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <optional>

using namespace quendle;
using namespace quendle::testing;

namespace {

// The result of the last call, for the assertions that follow it.
TransferResult last;

bool connect(TransferClient& client, const TransferRequest& request)
{
    last = client.connect(request);
    return last.ok();
}

bool upload(TransferClient& client, const TransferRequest& request)
{
    last = client.upload(request);
    return last.ok();
}

class CurlTransferClientTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.running()) << server.startError().toStdString();
        writeLocal("first version\r\n");
        request.host = server.host();
        request.user = TestFtpServer::kUser;
        request.password = TestFtpServer::kPassword;
        request.localFile = local;
        request.remoteName = "quendle.htm";
        request.remoteDirectory = "/";
    }

    void writeLocal(const QByteArray& bytes)
    {
        QFile file(local);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    TestFtpServer server;
    QTemporaryDir dir;
    QString local = dir.path() + "/quendle.htm";
    CurlTransferClient ftp;
    TransferRequest request;
};

TEST_F(CurlTransferClientTest, AWrongPasswordFailsAtConnect)
{
    request.password = "wrong";
    EXPECT_FALSE(connect(ftp, request));
    EXPECT_EQ(last.error, TransferError::LoginRefused);
    EXPECT_TRUE(last.detail.contains("530")) << last.detail.toStdString();
    EXPECT_FALSE(last.detail.contains("wrong"));
    EXPECT_FALSE(upload(ftp, request)) << "no connection is left open after a failed login";
    EXPECT_EQ(server.loginCount(), 0);
}

TEST_F(CurlTransferClientTest, OneLoginServesEveryUpload)
{
    ASSERT_TRUE(connect(ftp, request)) << last.detail.toStdString();
    EXPECT_EQ(server.loginCount(), 1);
    for (const QByteArray version : {"one\r\n", "two, longer\r\n", "three\r\n"}) {
        writeLocal(version);
        ASSERT_TRUE(upload(ftp, request)) << last.detail.toStdString();
        EXPECT_EQ(readWholeFile(server.localPath("/quendle.htm")), version);
        EXPECT_EQ(server.listing("/").join(" ").toStdString(), "quendle.htm")
            << "no temporary file is left";
        EXPECT_FALSE(last.direct) << "renamed over the old page";
    }
    EXPECT_EQ(server.loginCount(), 1);
}

TEST_F(CurlTransferClientTest, BinaryBytesArriveUnchanged)
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<char>(i));
    bytes += "\r\n\n\r";
    writeLocal(bytes);
    ASSERT_TRUE(connect(ftp, request));
    ASSERT_TRUE(upload(ftp, request)) << last.detail.toStdString();
    EXPECT_EQ(readWholeFile(server.localPath("/quendle.htm")), bytes);
}

TEST_F(CurlTransferClientTest, RemoteDirectoriesAreAbsoluteRelativeOrTheLoginDirectory)
{
    server.makeDirectory("/pub");
    server.makeDirectory(TestFtpServer::kHome + "/pub");
    server.makeDirectory("/tarrowby/public_html");
    ASSERT_TRUE(connect(ftp, request));
    const std::pair<QString, QString> cases[] = {
        {"/pub", "/pub/quendle.htm"},
        {"pub", TestFtpServer::kHome + "/pub/quendle.htm"},
        {"", TestFtpServer::kHome + "/quendle.htm"},
        {"/tarrowby/public_html", "/tarrowby/public_html/quendle.htm"},
        {"/", "/quendle.htm"},
        {"pub", TestFtpServer::kHome + "/pub/quendle.htm"}, // after an absolute one
    };
    int version = 0;
    for (const auto& [directory, onServer] : cases) {
        const QByteArray bytes = "version " + QByteArray::number(++version) + "\r\n";
        writeLocal(bytes);
        request.remoteDirectory = directory;
        ASSERT_TRUE(upload(ftp, request))
            << directory.toStdString() << ": " << last.detail.toStdString();
        EXPECT_EQ(readWholeFile(server.localPath(onServer)), bytes) << directory.toStdString();
    }
    EXPECT_EQ(server.loginCount(), 1);
}

TEST_F(CurlTransferClientTest, DotSegmentsGoToTheServerAsTyped)
{
    server.makeDirectory("/home/pub");
    server.makeDirectory(TestFtpServer::kHome + "/a");
    server.makeDirectory(TestFtpServer::kHome + "/pub");
    ASSERT_TRUE(connect(ftp, request));
    const std::pair<QString, QString> cases[] = {
        {"../pub", "/home/pub/quendle.htm"},
        {"a/../../pub", "/home/pub/quendle.htm"},
        {"./a/.", TestFtpServer::kHome + "/a/quendle.htm"},
        {"/home/tester/../pub", "/home/pub/quendle.htm"},
    };
    int version = 0;
    for (const auto& [directory, onServer] : cases) {
        const QByteArray bytes = "version " + QByteArray::number(++version) + "\r\n";
        writeLocal(bytes);
        request.remoteDirectory = directory;
        ASSERT_TRUE(upload(ftp, request))
            << directory.toStdString() << ": " << last.detail.toStdString();
        EXPECT_EQ(readWholeFile(server.localPath(onServer)), bytes) << directory.toStdString();
    }
    request.remoteDirectory = "missing/../pub";
    EXPECT_FALSE(upload(ftp, request)) << "a missing directory fails even when the path comes back";
    EXPECT_FALSE(QFile::exists(server.localPath(TestFtpServer::kHome + "/pub/quendle.htm")))
        << "nothing ever lands where the dots were dropped";
}

TEST_F(CurlTransferClientTest, NamesThatNeedEscapingWork)
{
    server.makeDirectory("/my site/100% #1?");
    ASSERT_TRUE(connect(ftp, request));
    request.remoteDirectory = "/my site/100% #1?";
    request.remoteName = "my page.htm";
    ASSERT_TRUE(upload(ftp, request)) << last.detail.toStdString();
    EXPECT_EQ(readWholeFile(server.localPath("/my site/100% #1?/my page.htm")),
              "first version\r\n");
}

TEST_F(CurlTransferClientTest, AMissingDirectoryFailsWithTheServersReply)
{
    ASSERT_TRUE(connect(ftp, request));
    request.remoteDirectory = "/no/such/place";
    EXPECT_FALSE(upload(ftp, request));
    EXPECT_TRUE(last.detail.contains("550")) << last.detail.toStdString();
    EXPECT_FALSE(QFile::exists(server.localPath("/no")));
}

TEST_F(CurlTransferClientTest, LineBreaksCannotSmuggleInCommands)
{
    const QString victim = server.localPath(TestFtpServer::kHome + "/victim.htm");
    QFile(victim).open(QIODevice::WriteOnly);
    ASSERT_TRUE(connect(ftp, request));
    request.remoteDirectory = "x\r\nDELE victim.htm";
    EXPECT_FALSE(upload(ftp, request));
    request.remoteDirectory = "";
    request.remoteName = "a.htm\r\nDELE victim.htm";
    EXPECT_FALSE(upload(ftp, request));
    request.user = TestFtpServer::kUser + "\r\nDELE victim.htm";
    EXPECT_FALSE(connect(ftp, request));
    request.user = TestFtpServer::kUser;
    request.password = TestFtpServer::kPassword + "\r\nDELE victim.htm";
    EXPECT_FALSE(connect(ftp, request));
    EXPECT_TRUE(QFile::exists(victim));
}

TEST_F(CurlTransferClientTest, AMissingLocalFileFails)
{
    ASSERT_TRUE(connect(ftp, request));
    request.localFile = dir.path() + "/nothing.htm";
    EXPECT_FALSE(upload(ftp, request));
    EXPECT_TRUE(last.detail.contains("nothing.htm"));
}

TEST_F(CurlTransferClientTest, UploadNeedsAConnection)
{
    EXPECT_FALSE(upload(ftp, request)) << "before any Connect";
    EXPECT_EQ(last.error, TransferError::NotConnected);
    ASSERT_TRUE(connect(ftp, request));
    ASSERT_TRUE(upload(ftp, request));
    EXPECT_TRUE(ftp.disconnect().ok());
    EXPECT_EQ(server.quitCount(), 1) << "Disconnect logs out with QUIT";
    writeLocal("after disconnect\r\n");
    EXPECT_FALSE(upload(ftp, request)) << "after Disconnect";
    EXPECT_EQ(readWholeFile(server.localPath("/quendle.htm")), "first version\r\n");
    EXPECT_EQ(server.loginCount(), 1);
}

TEST_F(CurlTransferClientTest, ConnectingAgainReplacesTheLogin)
{
    ASSERT_TRUE(connect(ftp, request));
    request.password = "wrong";
    EXPECT_FALSE(connect(ftp, request));
    EXPECT_FALSE(upload(ftp, request)) << "the failed login leaves no connection behind";
}

TEST_F(CurlTransferClientTest, AnInvalidHostFailsWithoutConnecting)
{
    request.host = "user@" + server.host();
    EXPECT_FALSE(connect(ftp, request));
    EXPECT_EQ(last.error, TransferError::InvalidHost);
    request.host = " ";
    EXPECT_FALSE(connect(ftp, request));
    request.host = server.host() + " ";
    EXPECT_FALSE(connect(ftp, request));
    EXPECT_TRUE(
        last.detail.endsWith("the port is a number from 1 to 65535 written in digits only."))
        << last.detail.toStdString();
    request.host = "http://" + server.host();
    EXPECT_FALSE(connect(ftp, request));
    EXPECT_EQ(last.error, TransferError::UnknownScheme);
    EXPECT_TRUE(last.detail.contains("ftpes://, ftps:// and sftp://"));
    EXPECT_EQ(server.loginCount(), 0);
}

TEST(CurlTransferClientIdle, AnUploadAfterTheServerDroppedTheIdleConnectionLogsInAgain)
{
    TestFtpServer server(TestFtpServer::Options{1.0});
    ASSERT_TRUE(server.running()) << server.startError().toStdString();
    QTemporaryDir dir;
    const QString local = dir.path() + "/quendle.htm";
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("refreshed\r\n");
    file.close();

    CurlTransferClient ftp;
    TransferRequest request;
    request.host = server.host();
    request.user = TestFtpServer::kUser;
    request.password = TestFtpServer::kPassword;
    request.remoteDirectory = "/";
    request.localFile = local;
    request.remoteName = "quendle.htm";
    ASSERT_TRUE(connect(ftp, request));
    for (int round = 0; round < 2; ++round) {
        QThread::msleep(2500); // longer than the server's idle time-out
        ASSERT_TRUE(upload(ftp, request)) << last.detail.toStdString();
    }
    EXPECT_EQ(readWholeFile(server.localPath("/quendle.htm")), "refreshed\r\n");
    EXPECT_EQ(server.loginCount(), 3);
}

// A server that takes the page under a temporary name and renames it, or refuses one of the two.
class AtomicUploadTest : public ::testing::Test
{
protected:
    void start(const TestFtpServer::Options& options)
    {
        server.emplace(options);
        ASSERT_TRUE(server->running()) << server->startError().toStdString();
        QFile old(server->localPath("/quendle.htm"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the old page\r\n");
        old.close();
        request = {server->host(),
                   TestFtpServer::kUser,
                   TestFtpServer::kPassword,
                   "/",
                   dir.path() + "/quendle.htm",
                   "quendle.htm"};
        writePage(QByteArray(300, 'n'));
        ASSERT_TRUE(connect(ftp, request)) << last.detail.toStdString();
    }

    void writePage(const QByteArray& bytes)
    {
        QFile page(request.localFile);
        ASSERT_TRUE(page.open(QIODevice::WriteOnly));
        page.write(bytes);
    }

    std::optional<TestFtpServer> server;
    QTemporaryDir dir;
    CurlTransferClient ftp;
    TransferRequest request;
};

TEST_F(AtomicUploadTest, AnUploadCutShortLeavesTheOldPageAndNoTemporaryFile)
{
    TestFtpServer::Options options;
    options.cutUploadsAfter = 100;
    start(options);
    EXPECT_FALSE(upload(ftp, request));
    EXPECT_TRUE(last.detail.contains("426")) << last.detail.toStdString();
    EXPECT_EQ(readWholeFile(server->localPath("/quendle.htm")), "the old page\r\n");
    EXPECT_EQ(server->listing("/").join(" ").toStdString(), "quendle.htm");
}

TEST_F(AtomicUploadTest, AServerThatRefusesTheRenameGetsThePageDirectlyAndItIsSaidOnce)
{
    const QString temporary = "\\.quendle\\.htm\\.[0-9a-f]{8}\\.tmp";
    const std::pair<bool, QString> cases[] = {
        {true, "^The server refused to rename the temporary file " + temporary +
                   " to quendle\\.htm \\(550 Not enough privileges\\.\\)\\. "},
        {false, "^The server refused the temporary file " + temporary +
                    " \\(553 Dot files are not allowed\\.\\)\\. "},
    };
    for (const auto& [refuseRename, refusal] : cases) {
        TestFtpServer::Options options;
        options.refuseRename = refuseRename;
        options.refuseDotFiles = !refuseRename;
        start(options);
        ASSERT_TRUE(upload(ftp, request)) << last.detail.toStdString();
        const QRegularExpression note(refusal +
                                      "On this connection the page is sent straight under its "
                                      "name instead, so an upload that breaks off can leave part "
                                      "of it on the server\\.$");
        EXPECT_TRUE(note.match(last.detail).hasMatch()) << last.detail.toStdString();
        EXPECT_TRUE(last.direct);
        EXPECT_EQ(readWholeFile(server->localPath("/quendle.htm")), QByteArray(300, 'n'));
        EXPECT_EQ(server->listing("/").join(" ").toStdString(), "quendle.htm");
        writePage("second\r\n");
        ASSERT_TRUE(upload(ftp, request)) << last.detail.toStdString();
        EXPECT_EQ(last.detail, "") << "said once";
        EXPECT_TRUE(last.direct) << "and sent straight for the rest of the connection";
        EXPECT_EQ(readWholeFile(server->localPath("/quendle.htm")), "second\r\n");
    }
}

TEST(CurlTransferClientIpv6, ConnectsToABracketedAddress)
{
    TestFtpServer server(TestFtpServer::Options{300, "::1"});
    if (!server.running())
        GTEST_SKIP() << "no IPv6 loopback here: " << server.startError().toStdString();
    CurlTransferClient ftp;
    TransferRequest request;
    request.host = server.host();
    request.user = TestFtpServer::kUser;
    request.password = TestFtpServer::kPassword;
    ASSERT_TRUE(connect(ftp, request)) << last.detail.toStdString();
    EXPECT_EQ(server.loginCount(), 1);
}

TEST(CurlTransferClientTimeouts, ASilentServerFailsWithinTheBound)
{
    SilentServer silent;
    CurlTransferClient ftp(TransferTimeouts{2, 2});
    TransferRequest request;
    request.host = silent.host();
    request.user = "x";
    request.password = "y";
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(connect(ftp, request));
    EXPECT_LT(clock.elapsed(), 6000);
    EXPECT_GE(clock.elapsed(), 1500);
}

} // namespace

namespace {

TEST(CurlTransferClientTimeouts, AWholeUploadIsBoundedWhileEachReplyComesInTime)
{
    TestFtpServer::Options options;
    options.slowCwdSeconds = 1;
    TestFtpServer server(options);
    ASSERT_TRUE(server.running()) << server.startError().toStdString();
    server.makeDirectory("/a/b/c/d/e/f");
    QTemporaryDir dir;
    QFile page(dir.path() + "/quendle.htm");
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("page\r\n");
    page.close();

    CurlTransferClient ftp(TransferTimeouts{5, 5, 3});
    TransferRequest request;
    request.host = server.host();
    request.user = TestFtpServer::kUser;
    request.password = TestFtpServer::kPassword;
    request.remoteDirectory = "/a/b/c/d/e/f";
    request.localFile = page.fileName();
    request.remoteName = "quendle.htm";
    ASSERT_TRUE(connect(ftp, request)) << last.detail.toStdString();
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(upload(ftp, request));
    EXPECT_EQ(last.error, TransferError::TimedOut) << last.detail.toStdString();
    EXPECT_GE(clock.elapsed(), 2500);
    EXPECT_LT(clock.elapsed(), 4500) << "seven replies of a second each would take longer";
}

TEST(CurlTransferClientTimeouts, AnUploadTheServerNeverAnswersFailsWithinTheBound)
{
    TestFtpServer::Options options;
    options.stallUploads = true;
    TestFtpServer server(options);
    ASSERT_TRUE(server.running()) << server.startError().toStdString();
    QTemporaryDir dir;
    QFile page(dir.path() + "/quendle.htm");
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("page\r\n");
    page.close();

    CurlTransferClient ftp(TransferTimeouts{2, 2});
    TransferRequest request;
    request.host = server.host();
    request.user = TestFtpServer::kUser;
    request.password = TestFtpServer::kPassword;
    request.remoteDirectory = "/";
    request.localFile = page.fileName();
    request.remoteName = "quendle.htm";
    ASSERT_TRUE(connect(ftp, request)) << last.detail.toStdString();
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(upload(ftp, request));
    EXPECT_LT(clock.elapsed(), 10000);
}

} // namespace
