#include "testcertificates.h"
#include "testsshserver.h"
#include "transfertest.h"

#include <QDir>
#include <QThread>

using namespace quendle;
using namespace quendle::testing;

namespace {

// FTP over TLS against a real server with a certificate of the test's own authority. The
// store the component trusts is chosen with SSL_CERT_FILE and SSL_CERT_DIR, as a user would.
class TlsTransferTest : public TransferTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(certificates.ok()) << certificates.error().toStdString();
        trustOnly(certificates.authority());
        request.user = TestFtpServer::kUser;
        request.password = TestFtpServer::kPassword;
        request.remoteDirectory = "/";
    }
    void TearDown() override
    {
        qunsetenv("SSL_CERT_FILE");
        qunsetenv("SSL_CERT_DIR");
    }

    static void trustOnly(const QString& file)
    {
        qputenv("SSL_CERT_FILE", QFile::encodeName(file));
        qputenv("SSL_CERT_DIR", QFile::encodeName(QDir::tempPath() + "/no-such-folder"));
    }

    std::unique_ptr<TestFtpServer> start(const QString& tls, const TestCertificates::Pair& pair,
                                         int port = 0, double idleSeconds = 300)
    {
        TestFtpServer::Options options;
        options.idleSeconds = idleSeconds;
        options.tls = tls;
        options.certificate = pair.certificate;
        options.key = pair.key;
        options.port = port;
        auto server = std::make_unique<TestFtpServer>(options);
        EXPECT_TRUE(server->running()) << server->startError().toStdString();
        return server;
    }

    const TestCertificates& certificates = TestCertificates::shared();
    CurlTransferClient ftp;
};

TEST_F(TlsTransferTest, ExplicitAndImplicitTlsLogInOnceForEveryUpload)
{
    for (const QString scheme : {"ftpes", "ftps"}) {
        const auto server =
            start(scheme == "ftpes" ? "explicit" : "implicit", certificates.localhost());
        request.host = scheme + "://" + server->host();
        ASSERT_TRUE(connect(ftp)) << detail();
        for (const QByteArray version : {"one\r\n", "two, longer\r\n"}) {
            writeLocal(version);
            ASSERT_TRUE(upload(ftp)) << detail();
            EXPECT_EQ(readWholeFile(server->localPath("/quendle.htm")), version);
        }
        EXPECT_TRUE(ftp.disconnect().ok());
        EXPECT_EQ(server->loginCount(), 1) << scheme.toStdString();
        EXPECT_EQ(server->quitCount(), 1) << "Disconnect logs out over TLS";
    }

    // A folder of hashed certificates works as well.
    const QString folder = dir.path() + "/authorities";
    QDir().mkpath(folder);
    QFile::copy(certificates.authority(), folder + "/ca.pem");
    QString error;
    runProgram("openssl", {"rehash", folder}, &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    qputenv("SSL_CERT_FILE", QFile::encodeName(certificates.unrelatedAuthority()));
    qputenv("SSL_CERT_DIR", QFile::encodeName(folder));
    const auto server = start("explicit", certificates.localhost());
    request.host = "ftpes://localhost:" + server->host().section(':', -1);
    EXPECT_TRUE(connect(ftp)) << detail();
}

TEST_F(TlsTransferTest, AnUnknownAuthorityIsReportedBeforeThePasswordIsSentUntilTrusted)
{
    trustOnly(certificates.unrelatedAuthority());
    auto server = start("explicit", certificates.localhost());
    const int port = server->host().section(':', -1).toInt();
    request.host = "ftpes://" + server->host();
    EXPECT_FALSE(connect(ftp));
    EXPECT_EQ(last.error, TransferError::CertificateNotTrusted);
    EXPECT_EQ(server->userCount(), 0) << "nothing of the login reached the server";

    QString error;
    const QByteArray fingerprint = runProgram("openssl",
                                              {"x509", "-noout", "-fingerprint", "-sha256", "-in",
                                               certificates.localhost().certificate},
                                              &error)
                                       .split('=')
                                       .value(1)
                                       .trimmed();
    ASSERT_FALSE(fingerprint.isEmpty()) << error.toStdString();
    const QString description = last.identity.description;
    EXPECT_TRUE(description.startsWith("The certificate of " + server->host() +
                                       " cannot be trusted: it was issued by an unknown "
                                       "authority.\n\nSubject: CN=localhost\n"
                                       "Issuer: CN=Quendle Test CA\nValid from: "))
        << description.toStdString();
    EXPECT_TRUE(description.endsWith("\nSHA-256 fingerprint: " + fingerprint))
        << description.toStdString();
    EXPECT_TRUE(last.detail.startsWith(description));
    EXPECT_TRUE(last.detail.contains("SSL_CERT_FILE")) << "a command-line user learns what to do";

    ftp.trust(last.identity);
    ASSERT_TRUE(connect(ftp)) << detail();
    ASSERT_TRUE(upload(ftp)) << detail();
    EXPECT_EQ(readWholeFile(server->localPath("/quendle.htm")), "first version\r\n");
    EXPECT_TRUE(connect(ftp)) << "trusted for the rest of the run: " << detail();

    // Another key on the same host and port is not the one accepted.
    server.reset();
    server = start("explicit", certificates.elsewhere(), port);
    EXPECT_FALSE(connect(ftp));
    EXPECT_EQ(last.error, TransferError::CertificateNotTrusted);
    EXPECT_TRUE(last.detail.contains("not the certificate accepted earlier")) << detail();
    EXPECT_EQ(server->userCount(), 0);
}

TEST_F(TlsTransferTest, ANameTheCertificateDoesNotCoverIsReported)
{
    const auto server = start("implicit", certificates.elsewhere());
    request.host = "ftps://" + server->host();
    EXPECT_FALSE(connect(ftp));
    EXPECT_EQ(last.error, TransferError::CertificateNotTrusted);
    EXPECT_TRUE(last.identity.description.contains(
        "cannot be trusted: it was not issued for the name 127.0.0.1.\n\nSubject: CN=elsewhere"))
        << last.identity.description.toStdString();
    EXPECT_EQ(server->userCount(), 0);
}

TEST_F(TlsTransferTest, ExplicitTlsToAServerWithoutTlsNeverSendsTheLogin)
{
    TestFtpServer plain;
    ASSERT_TRUE(plain.running()) << plain.startError().toStdString();
    request.host = "ftpes://" + plain.host();
    EXPECT_FALSE(connect(ftp));
    EXPECT_EQ(last.error, TransferError::ConnectionFailed);
    EXPECT_TRUE(last.detail.contains("does not offer FTP over TLS")) << detail();
    EXPECT_EQ(plain.userCount(), 0);
}

TEST_F(TlsTransferTest, AnUploadAfterTheServerDroppedTheIdleSessionLogsInAgain)
{
    const auto server = start("explicit", certificates.localhost(), 0, 1.0);
    request.host = "ftpes://" + server->host();
    ASSERT_TRUE(connect(ftp)) << detail();
    QThread::msleep(2500); // longer than the server's idle time-out
    ASSERT_TRUE(upload(ftp)) << detail();
    EXPECT_EQ(readWholeFile(server->localPath("/quendle.htm")), "first version\r\n");
    EXPECT_EQ(server->loginCount(), 2);
}

} // namespace
