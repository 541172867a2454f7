#include "testrouter.h"

#include "address/ipaddresstext.h"

#include <QFile>
#include <QRegularExpression>
#include <QThread>

namespace quendle::testing {

namespace {

// The tables miniupnpd expects (it does not make them itself): its rules go into the chains
// named in its configuration below.
const char kTables[] = R"(table inet miniupnpd {
  chain forward { type filter hook forward priority 0; policy accept; jump miniupnpd; }
  chain miniupnpd { }
  chain prerouting { type nat hook prerouting priority -100; jump prerouting_miniupnpd; }
  chain prerouting_miniupnpd { }
  chain postrouting { type nat hook postrouting priority 100; jump postrouting_miniupnpd; }
  chain postrouting_miniupnpd { }
}
)";

// Ports below 1024 are refused, as many routers do.
const char kDaemonSettings[] = R"(ext_ifname=ext0
listening_ip=lan0
http_port=5000
secure_mode=no
system_uptime=no
uuid=3b1f9c1e-6a64-4d5e-9a1b-0c7e2f4d5a61
upnp_table_name=miniupnpd
upnp_nat_table_name=miniupnpd
upnp_forward_chain=miniupnpd
upnp_nat_chain=prerouting_miniupnpd
upnp_nat_postrouting_chain=postrouting_miniupnpd
allow 1024-65535 192.168.77.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
)";

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Starts a process that holds a namespace until its standard input closes.
bool startHolder(QProcess& holder, const QStringList& command)
{
    QStringList arguments = command;
    holder.start(arguments.takeFirst(), arguments);
    return holder.waitForReadyRead(10000) && holder.readLine() == "ready\n";
}

void endHolder(QProcess& holder)
{
    holder.closeWriteChannel(); // its cat ends, and the namespace with it
    if (!holder.waitForFinished(5000))
        holder.kill();
    holder.waitForFinished();
}

QStringList nsenter(qint64 pid)
{
    return {"nsenter", "--preserve-credentials", "-U", "-n", "-t", QString::number(pid)};
}

} // namespace

TestRouter::TestRouter(const Options& options) : m_options(options)
{
    const QString ipv6Router =
        options.ipv6 ? QStringLiteral("ip -6 addr add 2001:db8:1::2/64 dev ext0 nodad && "
                                      "ip -6 route add default dev ext0 && "
                                      "ip -6 addr add 2001:db8:77::1/64 dev lan0 nodad && ")
                     : QString();
    const QString ipv6Client =
        options.ipv6 ? " && ip -6 addr add " + kClientIpv6 +
                           "/64 dev lan1 nodad && ip -6 route add default via 2001:db8:77::1"
                     : QString();
    if (!startHolder(m_routerHolder,
                     {"unshare", "-rn", "sh", "-c",
                      "ip link set lo up && ip link add ext0 type veth peer name ext1 && "
                      "ip link set ext1 up && ip link set ext0 up && ip addr add " +
                          options.outsideAddress +
                          " dev ext0 && ip route add default dev ext0 && "
                          "ip link add lan0 type veth peer name lan1 && "
                          "ip addr add 192.168.77.1/24 dev lan0 && ip link set lan0 up && " +
                          ipv6Router + "echo ready && exec cat"})) {
        m_namespacesUnavailable = true;
        m_error = "unshare -rn and veth pairs failed: " +
                  QString::fromLocal8Bit(m_routerHolder.readAllStandardError());
        return;
    }
    if (!startHolder(m_clientHolder,
                     routerLauncher() +
                         QStringList{"unshare", "-n", "sh", "-c",
                                     "ip link set lo up && echo ready && exec cat"})) {
        m_namespacesUnavailable = true;
        m_error = "a nested network namespace failed: " +
                  QString::fromLocal8Bit(m_clientHolder.readAllStandardError());
        return;
    }
    const QString tables = m_dir.filePath("tables.nft");
    if (!writeFile(tables, kTables) ||
        !shell(routerLauncher(), QStringLiteral("nft -f %1 && ip link set lan1 netns %2")
                                     .arg(tables)
                                     .arg(m_clientHolder.processId())) ||
        !shell(clientLauncher(), "ip link set lan1 up && ip addr add " + kClientAddress +
                                     "/24 dev lan1 && ip route add default via " +
                                     options.clientGateway + " dev lan1" + ipv6Client)) {
        m_error = "the router's tables or the client's link could not be set up: " + m_shellError;
        return;
    }
    QByteArray settings = kDaemonSettings;
    settings += QByteArray("enable_upnp=") + (options.upnp ? "yes" : "no") + '\n';
    settings += QByteArray("enable_natpmp=") + (options.natpmp ? "yes" : "no") + '\n';
    if (options.ipv6)
        settings += QByteArray("force_igd_desc_v1=") + (options.pinholes ? "no" : "yes") +
                    '\n'; // IGD v2 has the IPv6 firewall control; HTTP listens on IPv4 and IPv6
    if (!options.reportedAddress.isEmpty())
        settings += "ext_ip=" + options.reportedAddress.toUtf8() + '\n';
    if (!writeFile(m_dir.filePath("miniupnpd.conf"), settings))
        m_error = QStringLiteral("miniupnpd's configuration could not be written");
    else if (options.startDaemon && !startDaemon())
        m_error = "miniupnpd did not start: " + daemonLog();
}

TestRouter::~TestRouter()
{
    stopDaemon();
    endHolder(m_clientHolder);
    endHolder(m_routerHolder);
}

QStringList TestRouter::routerLauncher() const
{
    return nsenter(m_routerHolder.processId());
}

QStringList TestRouter::clientLauncher() const
{
    return nsenter(m_clientHolder.processId());
}

std::optional<QString> TestRouter::shell(const QStringList& launcher, const QString& command) const
{
    QStringList arguments = launcher + QStringList{"sh", "-c", command};
    QProcess process;
    process.start(arguments.takeFirst(), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_shellError = command + ": " + QString::fromLocal8Bit(process.readAllStandardError());
        return std::nullopt;
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

bool TestRouter::startDaemon()
{
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    m_daemon.setStandardOutputFile(m_dir.filePath("miniupnpd.log"), QIODevice::Append);
    // A pid file of its own each time: miniupnpd refuses to start over a live one's.
    QFile::remove(m_dir.filePath("miniupnpd.pid"));
    QStringList arguments =
        routerLauncher() + QStringList{"miniupnpd", "-d",
                                       "-f",        m_dir.filePath("miniupnpd.conf"),
                                       "-P",        m_dir.filePath("miniupnpd.pid")};
    const qsizetype logBefore = daemonLog().size();
    m_daemon.start(arguments.takeFirst(), arguments);
    if (!m_daemon.waitForStarted(5000))
        return false;
    // The last of its start-up lines, once the sockets it announces listen.
    const QString last = m_options.natpmp ? "Listening for NAT-PMP" : "HTTP listening on port";
    for (int waited = 0; waited < 5000; waited += 20) {
        if (daemonLog().mid(logBefore).contains(last))
            return true;
        if (m_daemon.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(20);
    }
    return false;
}

bool TestRouter::stopDaemon()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return true;
    m_daemon.terminate();
    if (m_daemon.waitForFinished(5000))
        return true;
    m_daemon.kill();
    m_daemon.waitForFinished(5000);
    return false; // stopped, but not as a router stops
}

bool TestRouter::restart(bool forget)
{
    if (!stopDaemon())
        return false;
    if (forget && !shell(routerLauncher(), "for chain in miniupnpd prerouting_miniupnpd "
                                           "postrouting_miniupnpd; do "
                                           "nft flush chain inet miniupnpd $chain || exit 1; done"))
        return false;
    return startDaemon();
}

QString TestRouter::daemonLog() const
{
    QFile file(m_dir.filePath("miniupnpd.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

QStringList TestRouter::upnpMappings() const
{
    // " 0 TCP  8080->192.168.77.50:8080  'quendle-publish' '' 3600"
    static const QRegularExpression row(R"(^\s*\d+\s+TCP\s+(\S+->\S+)\s+('[^']*'))",
                                        QRegularExpression::MultilineOption);
    QStringList found;
    const auto listing = shell(clientLauncher(), "upnpc -u " + kDescriptionUrl + " -l");
    for (auto match = row.globalMatch(listing.value_or(QString())); match.hasNext();) {
        const auto one = match.next();
        found << one.captured(1) + ' ' + one.captured(2);
    }
    return found;
}

QStringList TestRouter::forwardingRules() const
{
    // iif "ext0" @nh,72,8 0x6 th dport 8080 dnat ip to 192.168.77.50:8080
    static const QRegularExpression rule(R"(dport (\d+) dnat ip to (\S+))");
    QStringList found;
    const auto listing =
        shell(routerLauncher(), "nft list chain inet miniupnpd prerouting_miniupnpd");
    for (auto match = rule.globalMatch(listing.value_or(QString())); match.hasNext();) {
        const auto one = match.next();
        found << one.captured(1) + "->" + one.captured(2);
    }
    return found;
}

QStringList TestRouter::pinholeRules() const
{
    // iif "ext0" th dport 8080 @nh,192,128 0x20010db8007700000000000000000050 @nh,48,8 0x6 accept
    // (the 128 bits from byte 24 of the IPv6 header on: the destination address)
    static const QRegularExpression rule(R"(dport (\d+) @nh,192,128 0x([0-9a-f]{32}))");
    QStringList found;
    const auto listing = shell(routerLauncher(), "nft list chain inet miniupnpd miniupnpd");
    for (auto match = rule.globalMatch(listing.value_or(QString())); match.hasNext();) {
        const auto one = match.next();
        QStringList groups;
        for (int i = 0; i < 32; i += 4)
            groups << one.captured(2).mid(i, 4);
        found << "[" + canonicalAddress(groups.join(':'), AddressFamily::Ipv6).value_or("?") +
                     "]:" + one.captured(1);
    }
    return found;
}

} // namespace quendle::testing
