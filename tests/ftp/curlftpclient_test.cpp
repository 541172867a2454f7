#include "ftp/curlftpclient.h"
#include "testftpserver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

class CurlFtpClientTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.running()) << server.startError().toStdString();
        writeLocal("first version\r\n");
        ftp.ServerHost = server.host();
        ftp.LoginName = TestFtpServer::kUser;
        ftp.LoginPassword = TestFtpServer::kPassword;
        ftp.LocalFile = local;
        ftp.RemoteFile = "quendle.htm";
        ftp.RemoteDirectory = "/";
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
    CurlFtpClient ftp;
};

TEST_F(CurlFtpClientTest, AWrongPasswordFailsAtConnect)
{
    ftp.LoginPassword = "wrong";
    EXPECT_NE(ftp.Connect(), 0);
    EXPECT_TRUE(ftp.lastError().contains("530")) << ftp.lastError().toStdString();
    EXPECT_FALSE(ftp.lastError().contains("wrong"));
    EXPECT_NE(ftp.Upload(), 0) << "no connection is left open after a failed login";
    EXPECT_EQ(server.loginCount(), 0);
}

TEST_F(CurlFtpClientTest, OneLoginServesEveryUpload)
{
    ASSERT_EQ(ftp.Connect(), 0) << ftp.lastError().toStdString();
    EXPECT_EQ(server.loginCount(), 1);
    for (const QByteArray version : {"one\r\n", "two, longer\r\n", "three\r\n"}) {
        writeLocal(version);
        ASSERT_EQ(ftp.Upload(), 0) << ftp.lastError().toStdString();
        EXPECT_EQ(readWholeFile(server.localPath("/quendle.htm")), version);
    }
    EXPECT_EQ(server.loginCount(), 1);
}

TEST_F(CurlFtpClientTest, BinaryBytesArriveUnchanged)
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<char>(i));
    bytes += "\r\n\n\r";
    writeLocal(bytes);
    ASSERT_EQ(ftp.Connect(), 0);
    ASSERT_EQ(ftp.Upload(), 0) << ftp.lastError().toStdString();
    EXPECT_EQ(readWholeFile(server.localPath("/quendle.htm")), bytes);
}

TEST_F(CurlFtpClientTest, RemoteDirectoriesAreAbsoluteRelativeOrTheLoginDirectory)
{
    server.makeDirectory("/pub");
    server.makeDirectory(TestFtpServer::kHome + "/pub");
    server.makeDirectory("/tarrowby/public_html");
    ASSERT_EQ(ftp.Connect(), 0);
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
        ftp.RemoteDirectory = directory;
        ASSERT_EQ(ftp.Upload(), 0)
            << directory.toStdString() << ": " << ftp.lastError().toStdString();
        EXPECT_EQ(readWholeFile(server.localPath(onServer)), bytes) << directory.toStdString();
    }
    EXPECT_EQ(server.loginCount(), 1);
}

TEST_F(CurlFtpClientTest, NamesThatNeedEscapingWork)
{
    server.makeDirectory("/my site/100% #1?");
    ASSERT_EQ(ftp.Connect(), 0);
    ftp.RemoteDirectory = "/my site/100% #1?";
    ftp.RemoteFile = "my page.htm";
    ASSERT_EQ(ftp.Upload(), 0) << ftp.lastError().toStdString();
    EXPECT_EQ(readWholeFile(server.localPath("/my site/100% #1?/my page.htm")),
              "first version\r\n");
}

TEST_F(CurlFtpClientTest, AMissingDirectoryFailsWithTheServersReply)
{
    ASSERT_EQ(ftp.Connect(), 0);
    ftp.RemoteDirectory = "/no/such/place";
    EXPECT_NE(ftp.Upload(), 0);
    EXPECT_TRUE(ftp.lastError().contains("550")) << ftp.lastError().toStdString();
    EXPECT_FALSE(QFile::exists(server.localPath("/no")));
}

TEST_F(CurlFtpClientTest, LineBreaksCannotSmuggleInCommands)
{
    const QString victim = server.localPath(TestFtpServer::kHome + "/victim.htm");
    QFile(victim).open(QIODevice::WriteOnly);
    ASSERT_EQ(ftp.Connect(), 0);
    ftp.RemoteDirectory = "x\r\nDELE victim.htm";
    EXPECT_NE(ftp.Upload(), 0);
    ftp.RemoteDirectory = "";
    ftp.RemoteFile = "a.htm\r\nDELE victim.htm";
    EXPECT_NE(ftp.Upload(), 0);
    ftp.LoginName = TestFtpServer::kUser + "\r\nDELE victim.htm";
    EXPECT_NE(ftp.Connect(), 0);
    ftp.LoginName = TestFtpServer::kUser;
    ftp.LoginPassword = TestFtpServer::kPassword + "\r\nDELE victim.htm";
    EXPECT_NE(ftp.Connect(), 0);
    EXPECT_TRUE(QFile::exists(victim));
}

TEST_F(CurlFtpClientTest, AMissingLocalFileFails)
{
    ASSERT_EQ(ftp.Connect(), 0);
    ftp.LocalFile = dir.path() + "/nothing.htm";
    EXPECT_NE(ftp.Upload(), 0);
    EXPECT_TRUE(ftp.lastError().contains("nothing.htm"));
}

TEST_F(CurlFtpClientTest, UploadNeedsAConnection)
{
    EXPECT_NE(ftp.Upload(), 0) << "before any Connect";
    ASSERT_EQ(ftp.Connect(), 0);
    ASSERT_EQ(ftp.Upload(), 0);
    EXPECT_EQ(ftp.Disconnect(), 0);
    EXPECT_EQ(server.quitCount(), 1) << "Disconnect logs out with QUIT";
    writeLocal("after disconnect\r\n");
    EXPECT_NE(ftp.Upload(), 0) << "after Disconnect";
    EXPECT_EQ(readWholeFile(server.localPath("/quendle.htm")), "first version\r\n");
    EXPECT_EQ(server.loginCount(), 1);
}

TEST_F(CurlFtpClientTest, ConnectingAgainReplacesTheLogin)
{
    ASSERT_EQ(ftp.Connect(), 0);
    ftp.LoginPassword = "wrong";
    EXPECT_NE(ftp.Connect(), 0);
    EXPECT_NE(ftp.Upload(), 0) << "the failed login leaves no connection behind";
}

TEST_F(CurlFtpClientTest, AnInvalidHostFailsWithoutConnecting)
{
    ftp.ServerHost = "user@" + server.host();
    EXPECT_EQ(ftp.Connect(), CurlFtpClient::kInvalidHost);
    ftp.ServerHost = " ";
    EXPECT_NE(ftp.Connect(), 0);
    EXPECT_EQ(server.loginCount(), 0);
}

TEST(CurlFtpClientIdle, AnUploadAfterTheServerDroppedTheIdleConnectionLogsInAgain)
{
    TestFtpServer server(TestFtpServer::Options{1.0});
    ASSERT_TRUE(server.running()) << server.startError().toStdString();
    QTemporaryDir dir;
    const QString local = dir.path() + "/quendle.htm";
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("refreshed\r\n");
    file.close();

    CurlFtpClient ftp;
    ftp.ServerHost = server.host();
    ftp.LoginName = TestFtpServer::kUser;
    ftp.LoginPassword = TestFtpServer::kPassword;
    ftp.RemoteDirectory = "/";
    ftp.LocalFile = local;
    ftp.RemoteFile = "quendle.htm";
    ASSERT_EQ(ftp.Connect(), 0);
    for (int round = 0; round < 2; ++round) {
        QThread::msleep(2500); // longer than the server's idle time-out
        ASSERT_EQ(ftp.Upload(), 0) << ftp.lastError().toStdString();
    }
    EXPECT_EQ(readWholeFile(server.localPath("/quendle.htm")), "refreshed\r\n");
    EXPECT_EQ(server.loginCount(), 3);
}

TEST(CurlFtpClientIpv6, ConnectsToABracketedAddress)
{
    TestFtpServer server(TestFtpServer::Options{300, "::1"});
    if (!server.running())
        GTEST_SKIP() << "no IPv6 loopback here: " << server.startError().toStdString();
    CurlFtpClient ftp;
    ftp.ServerHost = server.host();
    ftp.LoginName = TestFtpServer::kUser;
    ftp.LoginPassword = TestFtpServer::kPassword;
    ASSERT_EQ(ftp.Connect(), 0) << ftp.lastError().toStdString();
    EXPECT_EQ(server.loginCount(), 1);
}

TEST(CurlFtpClientTimeouts, ASilentServerFailsWithinTheBound)
{
    SilentServer silent;
    CurlFtpClient ftp(FtpTimeouts{2, 2});
    ftp.ServerHost = silent.host();
    ftp.LoginName = "x";
    ftp.LoginPassword = "y";
    QElapsedTimer clock;
    clock.start();
    EXPECT_NE(ftp.Connect(), 0);
    EXPECT_LT(clock.elapsed(), 6000);
    EXPECT_GE(clock.elapsed(), 1500);
}

} // namespace

namespace {

TEST(CurlFtpClientTimeouts, AnUploadTheServerNeverAnswersFailsWithinTheBound)
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

    CurlFtpClient ftp(FtpTimeouts{2, 2});
    ftp.ServerHost = server.host();
    ftp.LoginName = TestFtpServer::kUser;
    ftp.LoginPassword = TestFtpServer::kPassword;
    ftp.RemoteDirectory = "/";
    ftp.LocalFile = page.fileName();
    ftp.RemoteFile = "quendle.htm";
    ASSERT_EQ(ftp.Connect(), 0) << ftp.lastError().toStdString();
    QElapsedTimer clock;
    clock.start();
    EXPECT_NE(ftp.Upload(), 0);
    EXPECT_LT(clock.elapsed(), 10000);
}

} // namespace
