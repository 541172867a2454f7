#include "testsshserver.h"
#include "transfertest.h"

#include <QDir>
#include <QThread>

using namespace quendle;
using namespace quendle::testing;

namespace {

// SFTP against a private sshd; the user's known_hosts is a file of the test's own.
class SftpTransferTest : public TransferTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.running()) << server.startError().toStdString();
        request.host = server.host();
        request.user = TestSshServer::kUser;
        request.password = TestSshServer::kPassword;
    }

    // known_hosts as ssh keeps it: other hosts, a line this library cannot read, and the
    // server's own entry hashed by ssh-keygen.
    void writeKnownHosts(const QByteArray& serverLine)
    {
        QDir().mkpath(dir.path() + "/ssh");
        QFile file(knownHosts);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kOtherHosts + serverLine);
        file.close();
        QString error;
        runProgram("ssh-keygen", {"-q", "-H", "-f", knownHosts}, &error);
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    }

    QString fingerprintOf(const QString& publicKeyFile)
    {
        QString error;
        const QByteArray line =
            runProgram("ssh-keygen", {"-l", "-E", "sha256", "-f", publicKeyFile}, &error);
        return QString::fromLatin1(line.split(' ').value(1));
    }

    static inline const QByteArray kOtherHosts =
        "other.example ssh-ed25519 "
        "AAAAC3NzaC1lZDI1NTE5AAAAIOMqqnkVzrm0SdG6UOoqKLsabgH5C9okWi0dh2l9GKJl\n";

    TestSshServer server;
    QString knownHosts = dir.path() + "/ssh/known_hosts";
    CurlTransferClient sftp{TransferTimeouts{}, knownHosts};
};

TEST_F(SftpTransferTest, AKnownHashedKeyConnectsOnceForUploadsToEveryKindOfDirectory)
{
    writeKnownHosts(server.knownHostsLine());
    server.makeDirectory("/pub");
    server.makeDirectory("/home/tester/pub");
    server.makeDirectory("/home/pub");
    ASSERT_TRUE(connect(sftp)) << detail();
    const std::pair<QString, QString> cases[] = {
        {server.localPath("/pub"), "/pub/quendle.htm"},
        {"pub", "/home/tester/pub/quendle.htm"},
        {"", "/home/tester/quendle.htm"},
        {"../pub", "/home/pub/quendle.htm"},
        {"pub/../../pub", "/home/pub/quendle.htm"},
    };
    int version = 0;
    for (const auto& [directory, onServer] : cases) {
        const QByteArray bytes = "version " + QByteArray::number(++version) + "\r\n";
        writeLocal(bytes);
        request.remoteDirectory = directory;
        ASSERT_TRUE(upload(sftp)) << directory.toStdString() << ": " << detail();
        EXPECT_EQ(readWholeFile(server.localPath(onServer)), bytes) << directory.toStdString();
    }
    request.remoteDirectory = "no/../pub";
    EXPECT_FALSE(upload(sftp)) << "a missing directory fails even when the path comes back";
    EXPECT_EQ(server.loginCount(), 1);
    EXPECT_TRUE(sftp.disconnect().ok());
    // sshd logs the disconnect a moment after it arrives.
    for (int wait = 0; wait < 100 && server.disconnectCount() == 0; ++wait)
        QThread::msleep(20);
    EXPECT_EQ(server.disconnectCount(), 1) << "Disconnect closes the SSH session properly";
}

TEST_F(SftpTransferTest, ANewPageReplacesTheOldOneThroughATemporaryName)
{
    writeKnownHosts(server.knownHostsLine());
    server.makeDirectory("/home/tester/my site");
    request.remoteDirectory = "my site";
    request.remoteName = "it's \"new\".htm";
    const QString page = server.localPath("/home/tester/my site/") + request.remoteName;
    QFile old(page);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old page\r\n");
    old.close();
    ASSERT_TRUE(connect(sftp)) << detail();
    for (const QByteArray version : {"one\r\n", "two, longer\r\n"}) {
        writeLocal(version);
        ASSERT_TRUE(upload(sftp)) << detail();
        EXPECT_EQ(last.detail, "");
        EXPECT_EQ(readWholeFile(page), version);
        EXPECT_EQ(
            QDir(server.localPath("/home/tester/my site")).entryList(QDir::Files | QDir::Hidden),
            QStringList{request.remoteName});
    }
}

TEST_F(SftpTransferTest, AnUnknownKeyIsReportedBeforeLoginAndAcceptingItAddsItToKnownHosts)
{
    EXPECT_FALSE(connect(sftp));
    EXPECT_EQ(last.error, TransferError::HostKeyUnknown);
    EXPECT_EQ(server.loginCount(), 0);
    const QString authority = server.host().mid(7);
    EXPECT_EQ(last.identity.description, "The host key of " + authority + " is not in " +
                                             knownHosts +
                                             ".\n\nKey type: ssh-ed25519\nFingerprint: " +
                                             fingerprintOf(server.hostKeyFile() + ".pub"));
    EXPECT_TRUE(last.detail.contains(
        QStringLiteral("ssh-keyscan -p %1 -t ed25519 127.0.0.1 >> ").arg(server.port())))
        << detail();

    writeKnownHosts({});
    const QByteArray before = readWholeFile(knownHosts);
    sftp.trust(last.identity);
    ASSERT_TRUE(connect(sftp)) << detail();
    ASSERT_TRUE(upload(sftp)) << detail();
    EXPECT_EQ(readWholeFile(server.localPath("/home/tester/quendle.htm")), "first version\r\n");

    const QByteArray after = readWholeFile(knownHosts);
    EXPECT_TRUE(after.startsWith(before)) << "nothing the user had is rewritten";
    EXPECT_EQ(after.count('\n'), before.count('\n') + 1);
    QString error;
    const QByteArray found = runProgram(
        "ssh-keygen", {"-F", QStringLiteral("[127.0.0.1]:%1").arg(server.port()), "-f", knownHosts},
        &error);
    EXPECT_TRUE(found.contains("ssh-ed25519"))
        << "ssh itself finds the added key: " << error.toStdString();

    CurlTransferClient nextRun(TransferTimeouts{}, knownHosts);
    EXPECT_TRUE(nextRun.connect(request).ok()) << "a later run knows the key from the file";
}

TEST_F(SftpTransferTest, AChangedKeyNeverConnects)
{
    QString error;
    const QString otherKey = dir.path() + "/otherkey";
    runProgram("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", otherKey}, &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    const QList<QByteArray> other = readWholeFile(otherKey + ".pub").split(' ');
    writeKnownHosts(QStringLiteral("[127.0.0.1]:%1 ").arg(server.port()).toUtf8() + other[0] + ' ' +
                    other[1] + '\n');
    const QByteArray before = readWholeFile(knownHosts);

    EXPECT_FALSE(connect(sftp));
    EXPECT_EQ(last.error, TransferError::HostKeyChanged);
    EXPECT_TRUE(last.detail.contains("Known fingerprint: " + fingerprintOf(otherKey + ".pub")))
        << detail();
    EXPECT_TRUE(last.detail.contains("Offered fingerprint: " +
                                     fingerprintOf(server.hostKeyFile() + ".pub")))
        << detail();
    EXPECT_EQ(last.identity.kind, ServerIdentity::Kind::None) << "nothing to accept";
    EXPECT_EQ(server.loginCount(), 0);
    EXPECT_EQ(readWholeFile(knownHosts), before);
}

TEST_F(SftpTransferTest, AWrongPasswordIsRefusedAndNeverShown)
{
    writeKnownHosts(server.knownHostsLine());
    request.password = "wrong horse";
    EXPECT_FALSE(connect(sftp));
    EXPECT_EQ(last.error, TransferError::LoginRefused) << detail();
    EXPECT_FALSE(last.detail.contains("wrong horse"));
}

TEST_F(SftpTransferTest, AnUploadAfterTheServerDroppedTheSessionLogsInAgain)
{
    writeKnownHosts(server.knownHostsLine());
    ASSERT_TRUE(connect(sftp)) << detail();
    server.dropSessions();
    QThread::msleep(300);
    ASSERT_TRUE(upload(sftp)) << detail();
    EXPECT_EQ(readWholeFile(server.localPath("/home/tester/quendle.htm")), "first version\r\n");
    EXPECT_EQ(server.loginCount(), 2);
}

} // namespace
