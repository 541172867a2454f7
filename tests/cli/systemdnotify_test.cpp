#include "cli/systemdnotify.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace quendle::cli;

namespace {

// A notification socket of the test's own, as systemd passes NOTIFY_SOCKET to the service.
class SystemdNotifyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(m_socket, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = m_dir.filePath("notify").toUtf8();
        ASSERT_LT(size_t(path.size()), sizeof(address.sun_path));
        std::copy(path.begin(), path.end(), address.sun_path);
        ASSERT_EQ(::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        qputenv("NOTIFY_SOCKET", path);
    }

    void TearDown() override
    {
        qunsetenv("NOTIFY_SOCKET");
        ::close(m_socket);
    }

    // The next datagram, or "" when none is waiting.
    QByteArray received()
    {
        char buffer[4096];
        const ssize_t size = ::recv(m_socket, buffer, sizeof(buffer), MSG_DONTWAIT);
        return size < 0 ? QByteArray() : QByteArray(buffer, size);
    }

    QTemporaryDir m_dir;
    int m_socket = -1;
};

TEST_F(SystemdNotifyTest, EachCallIsOneDatagram)
{
    EXPECT_TRUE(systemd::ready());
    EXPECT_EQ(received(), "READY=1");
    EXPECT_TRUE(systemd::status("203.0.113.7 on 2 of 2 targets, verified"));
    EXPECT_EQ(received(), "STATUS=203.0.113.7 on 2 of 2 targets, verified");
    EXPECT_TRUE(systemd::status("two\nlines"));
    EXPECT_EQ(received(), "STATUS=two lines");
    EXPECT_TRUE(systemd::watchdog());
    EXPECT_EQ(received(), "WATCHDOG=1");
    EXPECT_TRUE(systemd::reloading());
    const QString reloading = QString::fromUtf8(received());
    EXPECT_TRUE(
        QRegularExpression("^RELOADING=1\nMONOTONIC_USEC=[1-9][0-9]*$").match(reloading).hasMatch())
        << reloading.toStdString();
    EXPECT_TRUE(systemd::stopping());
    EXPECT_EQ(received(), "STOPPING=1");
    EXPECT_EQ(received(), "");

    qunsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(systemd::ready());
    EXPECT_EQ(received(), "");
}

TEST(SystemdWatchdog, IsFedAtHalfTheIntervalOfThisProcess)
{
    qputenv("WATCHDOG_USEC", "60000000");
    qputenv("WATCHDOG_PID", QByteArray::number(::getpid()));
    EXPECT_EQ(systemd::watchdogInterval(), std::chrono::seconds(30));
    qputenv("WATCHDOG_PID", QByteArray::number(::getppid()));
    EXPECT_EQ(systemd::watchdogInterval(), std::nullopt);
    qunsetenv("WATCHDOG_PID");
    qunsetenv("WATCHDOG_USEC");
    EXPECT_EQ(systemd::watchdogInterval(), std::nullopt);
}

} // namespace
