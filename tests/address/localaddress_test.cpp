#include "address/localaddress.h"

#include <gtest/gtest.h>

using namespace quendle;

namespace {

const QString kTable =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "eth1\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
    "wlan0\t00000000\t0100A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n";

const QList<InterfaceAddress> kInterfaces{
    {"lo", "127.0.0.1", true, true},
    {"eth1", "192.168.0.5", true, false},
    {"wlan0", "192.0.2.7", true, false},
};

TEST(LocalAddress, PrefersTheInterfaceOfTheDefaultRoute)
{
    EXPECT_EQ(chooseLocalAddress(kTable, kInterfaces), "192.0.2.7");
}

TEST(LocalAddress, FallsBackToTheFirstUpNonLoopbackInterface)
{
    EXPECT_EQ(chooseLocalAddress("", kInterfaces), "192.168.0.5");
    QList<InterfaceAddress> downDefault = kInterfaces;
    downDefault[2].up = false;
    EXPECT_EQ(chooseLocalAddress(kTable, downDefault), "192.168.0.5");
    const QString downRoute = QString(kTable).replace("\t0003\t", "\t0002\t");
    EXPECT_EQ(chooseLocalAddress(downRoute, kInterfaces), "192.168.0.5");
}

TEST(LocalAddress, IsLoopbackWhenNothingElseIsUp)
{
    EXPECT_EQ(chooseLocalAddress(kTable, {{"lo", "127.0.0.1", true, true}}), "127.0.0.1");
    EXPECT_EQ(chooseLocalAddress("", {}), "127.0.0.1");
    EXPECT_EQ(chooseLocalAddress("", {{"eth0", "10.0.0.2", false, false}}), "127.0.0.1");
}

TEST(LocalAddress, ThisMachineGivesADottedQuad)
{
    const QStringList parts = localAddress().split('.');
    ASSERT_EQ(parts.size(), 4);
    for (const QString& part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok);
        EXPECT_TRUE(ok && value >= 0 && value <= 255) << part.toStdString();
    }
}

} // namespace
