#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace quendle::testing {

// A home router in network namespaces of the test's own (user namespaces, no root needed): a
// real miniupnpd between an outside veth (ext0) and a LAN veth (lan0, 192.168.77.1) whose other
// end lies in a nested namespace for the client (lan1, 192.168.77.50, default route via the
// router). The client's commands run there through clientLauncher().
class TestRouter
{
public:
    struct Options
    {
        bool upnp = true;
        bool natpmp = true;
        QString outsideAddress = QStringLiteral("198.51.100.23/24"); // on ext0
        // What the router reports as its outside address (miniupnpd's ext_ip); empty: the one on
        // ext0, which miniupnpd keeps to itself when it is not public.
        QString reportedAddress = QStringLiteral("11.22.33.44");
        bool startDaemon = true; // false: a router that speaks neither protocol
        QString clientGateway = QStringLiteral("192.168.77.1");
        // IPv6 on both links (the client gets kClientIpv6, the router 2001:db8:77::1) and
        // miniupnpd's IGD v2 with its IPv6 firewall control, found over IPv6 at kIpv6Url.
        bool ipv6 = false;
        bool pinholes = true; // false: IGD v1, which has no IPv6 firewall control
    };

    static inline const QString kClientAddress = QStringLiteral("192.168.77.50");
    static inline const QString kClientIpv6 = QStringLiteral("2001:db8:77::50");
    static inline const QString kIpv6Url =
        QStringLiteral("http://[2001:db8:77::1]:5000/rootDesc.xml");
    static inline const QString kDescriptionUrl =
        QStringLiteral("http://192.168.77.1:5000/rootDesc.xml");

    explicit TestRouter(const Options& options);
    ~TestRouter();

    bool ready() const { return m_error.isEmpty(); }
    // Why the rig is not ready: namespaces unavailable, or miniupnpd did not start.
    QString error() const { return m_error; }
    bool namespacesUnavailable() const { return m_namespacesUnavailable; }

    QStringList clientLauncher() const;
    // The TCP mappings `upnpc -l` lists, as "8080->192.168.77.50:8080 'description'".
    QStringList upnpMappings() const;
    // The ports of the forwarding (DNAT) rules miniupnpd keeps its mappings in, as
    // "8080->192.168.77.50:8080", whatever protocol made them.
    QStringList forwardingRules() const;
    // The IPv6 pinholes miniupnpd keeps in its filter chain, as "[2001:db8:77::50]:8080".
    QStringList pinholeRules() const;
    // Stops miniupnpd and starts it again; with `forget`, its nftables rules go too, as when a
    // router restarts.
    bool restart(bool forget);
    QString daemonLog() const;

private:
    bool startDaemon();
    bool stopDaemon();
    QStringList routerLauncher() const;
    // Runs `command` with sh in a namespace; its standard output, or none when it failed.
    std::optional<QString> shell(const QStringList& launcher, const QString& command) const;

    Options m_options;
    QTemporaryDir m_dir;
    QProcess m_routerHolder;
    QProcess m_clientHolder;
    QProcess m_daemon;
    QString m_error;
    mutable QString m_shellError; // what the last failed shell() said
    bool m_namespacesUnavailable = false;
};

} // namespace quendle::testing
