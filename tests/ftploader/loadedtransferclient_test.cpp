#include "ftploader/loadedtransferclient.h"
#include "testcertificates.h"
#include "testftpserver.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dlfcn.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

TransferRequest loginTo(const TestFtpServer& server)
{
    TransferRequest request;
    request.host = server.host();
    request.user = TestFtpServer::kUser;
    request.password = TestFtpServer::kPassword;
    request.remoteDirectory = "/";
    request.remoteName = "quendle.htm";
    return request;
}

// The path of the shared library that holds `symbol`.
QString libraryOf(const void* symbol)
{
    Dl_info info{};
    return dladdr(symbol, &info) ? QString::fromLocal8Bit(info.dli_fname) : QString();
}

TEST(LoadedTransferClient, TheModuleIsLoadedByTheFirstConnectAndServesTheSession)
{
    TestFtpServer server;
    ASSERT_TRUE(server.running()) << server.startError().toStdString();
    QTemporaryDir dir;
    TransferRequest request = loginTo(server);
    request.localFile = dir.filePath("quendle.htm");
    QFile page(request.localFile);
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("page\r\n");
    page.close();

    LoadedTransferClient ftp(QStringLiteral(QUENDLE_TRANSFER_MODULE));
    EXPECT_EQ(ftp.upload(request).error, TransferError::NotConnected) << "before any Connect";
    EXPECT_TRUE(ftp.disconnect().ok());
    const TransferResult connected = ftp.connect(request);
    ASSERT_TRUE(connected.ok()) << connected.detail.toStdString();
    EXPECT_TRUE(ftp.upload(request).ok());
    EXPECT_TRUE(ftp.disconnect().ok());
    EXPECT_EQ(readWholeFile(server.localPath("/quendle.htm")), "page\r\n");
    EXPECT_EQ(server.loginCount(), 1);
    EXPECT_EQ(server.quitCount(), 1);
}

TEST(LoadedTransferClient, TrustingARefusedCertificateReachesTheLoadedComponent)
{
    const TestCertificates& certificates = TestCertificates::shared();
    ASSERT_TRUE(certificates.ok()) << certificates.error().toStdString();
    // The system's store, which knows nothing of the test's authority.
    qunsetenv("SSL_CERT_FILE");
    qunsetenv("SSL_CERT_DIR");
    TestFtpServer::Options options;
    options.tls = QStringLiteral("explicit");
    options.certificate = certificates.localhost().certificate;
    options.key = certificates.localhost().key;
    TestFtpServer server(options);
    ASSERT_TRUE(server.running()) << server.startError().toStdString();
    TransferRequest request = loginTo(server);
    request.host = "ftpes://" + server.host();

    LoadedTransferClient ftp(QStringLiteral(QUENDLE_TRANSFER_MODULE));
    const TransferResult refused = ftp.connect(request);
    ASSERT_EQ(refused.error, TransferError::CertificateNotTrusted) << refused.detail.toStdString();
    ftp.trust(refused.identity);
    const TransferResult trusted = ftp.connect(request);
    EXPECT_TRUE(trusted.ok()) << trusted.detail.toStdString();
    EXPECT_EQ(server.loginCount(), 1);
    ftp.disconnect();
}

TEST(LoadedTransferClient, AModuleThatCannotBeLoadedFailsTheConnectWithTheReason)
{
    TestFtpServer server;
    ASSERT_TRUE(server.running()) << server.startError().toStdString();
    QTemporaryDir dir;
    QFile text(dir.filePath("text.so"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a library\n");
    text.close();
    const std::pair<QString, const char*> cases[] = {
        {dir.filePath("missing.so"), "missing.so"},
        {text.fileName(), "text.so"},
        // A library of another build: it lacks this build's entry point.
        {libraryOf(reinterpret_cast<const void*>(&qVersion)), "quendle_create_transfer_client"},
    };
    for (const auto& [path, named] : cases) {
        LoadedTransferClient ftp(path);
        const TransferResult result = ftp.connect(loginTo(server));
        EXPECT_EQ(result.error, TransferError::LibraryFailure) << path.toStdString();
        EXPECT_TRUE(result.detail.startsWith("The FTP component could not be loaded: "))
            << result.detail.toStdString();
        EXPECT_TRUE(result.detail.contains(named))
            << path.toStdString() << ": " << result.detail.toStdString();
        EXPECT_EQ(ftp.upload(loginTo(server)).error, TransferError::NotConnected);
    }
    EXPECT_EQ(server.loginCount(), 0);
}

TEST(LoadedTransferClient, TheProgramFindsItsModuleAndLinksNoTransferLibrary)
{
    EXPECT_EQ(transferModulePath("/usr/bin"), "/usr/lib/quendle/quendle-ftp.so");
    EXPECT_TRUE(QFile::exists(transferModulePath(QUENDLE_PROGRAM_DIRECTORY)))
        << "the build folder keeps the installed layout";

    // Every library the window loads at start, and none of them is libcurl or a TLS library.
    QProcess ldd;
    ldd.start("ldd", {QUENDLE_PROGRAM});
    ASSERT_TRUE(ldd.waitForFinished(30000));
    const QString libraries = QString::fromLocal8Bit(ldd.readAllStandardOutput());
    ASSERT_TRUE(libraries.contains("libQt6Widgets")) << libraries.toStdString();
    for (const char* library : {"libcurl", "libssl", "libcrypto", "libgnutls", "libssh"})
        EXPECT_FALSE(libraries.contains(library)) << library;
}

} // namespace
