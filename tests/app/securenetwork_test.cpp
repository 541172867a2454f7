#include "ftp/curltransferclient.h"
#include "mainwindowfixture.h"
#include "page/pagetext.h"
#include "testcertificates.h"
#include "testftpserver.h"
#include "testsshserver.h"

using namespace quendle;
using namespace quendle::testing;

namespace {

// The main window on the real transfer component, asking about servers it cannot trust yet.
class SecureNetworkTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        window = makeWindow(curl);
        QTest::keyClicks(field("Text3"), "me@example.org");
        window->Label9_Click();
    }
    void TearDown() override { qunsetenv("SSL_CERT_FILE"); }

    void typeLogin(const QString& host, const QString& user, const QString& password)
    {
        QTest::keyClicks(field("Host"), host);
        QTest::keyClicks(field("UserName"), user);
        QTest::keyClicks(field("Password"), password);
    }

    void expectNoPasswordShown(const QString& password)
    {
        for (const auto& shown : feedback.messages)
            EXPECT_FALSE(shown.details.contains(password) || shown.text.contains(password));
        for (const QString& question : feedback.questions)
            EXPECT_FALSE(question.contains(password));
    }

    QString knownHosts = dir.path() + "/known_hosts";
    CurlTransferClient curl{TransferTimeouts{}, knownHosts};
};

TEST_F(SecureNetworkTest, AnUntrustedCertificateIsAskedAboutOncePerRun)
{
    const TestCertificates& certificates = TestCertificates::shared();
    ASSERT_TRUE(certificates.ok()) << certificates.error().toStdString();
    qputenv("SSL_CERT_FILE", QFile::encodeName(certificates.unrelatedAuthority()));
    TestFtpServer::Options options;
    options.tls = "explicit";
    options.certificate = certificates.localhost().certificate;
    options.key = certificates.localhost().key;
    TestFtpServer server(options);
    ASSERT_TRUE(server.running()) << server.startError().toStdString();
    typeLogin("ftpes://" + server.host(), TestFtpServer::kUser, TestFtpServer::kPassword);

    window->Label10_Click(); // answered No
    ASSERT_EQ(feedback.questions.size(), 1);
    EXPECT_TRUE(feedback.questions[0].contains("it was issued by an unknown authority"));
    EXPECT_TRUE(feedback.questions[0].endsWith(
        "Do you want to trust this certificate for the rest of this session and connect?"));
    EXPECT_EQ(feedback.messages.back().text, "Unable to connect to the specified host");
    EXPECT_EQ(feedback.messages.back().icon, Feedback::Icon::Critical);
    EXPECT_TRUE(feedback.messages.back().details.contains("unknown authority"));
    EXPECT_EQ(server.userCount(), 0);

    feedback.answers = {true};
    window->Label10_Click();
    EXPECT_EQ(feedback.messages.back().text, "Connected to server!");
    window->Label8_Click();
    EXPECT_EQ(feedback.messages.back().text, "File Transferred!");
    EXPECT_EQ(readWholeFile(server.localPath("/quendle.htm")), readWholeFile(window->pagePath()));
    window->Label13_Click();
    EXPECT_EQ(readWholeFile(server.localPath("/quendle.htm")), offlinePage("me@example.org"));

    window->Label10_Click();
    EXPECT_EQ(feedback.messages.back().text, "Connected to server!");
    EXPECT_EQ(feedback.questions.size(), 2) << "not asked again in this run";
    EXPECT_EQ(server.loginCount(), 2);
    expectNoPasswordShown(TestFtpServer::kPassword);
}

TEST_F(SecureNetworkTest, AnUnknownHostKeyIsAddedOnYes)
{
    TestSshServer server;
    ASSERT_TRUE(server.running()) << server.startError().toStdString();
    typeLogin(server.host(), TestSshServer::kUser, TestSshServer::kPassword);
    feedback.answers = {true};
    window->Label10_Click();
    ASSERT_EQ(feedback.questions.size(), 1);
    EXPECT_TRUE(feedback.questions[0].contains("Key type: ssh-ed25519\nFingerprint: SHA256:"));
    EXPECT_TRUE(feedback.questions[0].endsWith(
        "Do you want to add this key to your known hosts and connect?"));
    EXPECT_EQ(feedback.messages.back().text, "Connected to server!");
    EXPECT_EQ(readWholeFile(knownHosts).count('\n'), 1);

    field("ServerURL")->setText("");
    window->Label8_Click();
    EXPECT_EQ(feedback.messages.back().text, "File Transferred!");
    EXPECT_EQ(readWholeFile(server.localPath("/home/tester/quendle.htm")),
              readWholeFile(window->pagePath()));
    EXPECT_EQ(server.loginCount(), 1);
    expectNoPasswordShown(TestSshServer::kPassword);
}

} // namespace
