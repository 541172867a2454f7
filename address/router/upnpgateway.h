#pragma once

#include "address/router/routeroptions.h"
#include "base/expected.h"

#include <QString>

#include <chrono>
#include <memory>

namespace quendle::router {

// What the router answered to one command.
struct UpnpReply
{
    int code = 0;  // 0: done; above 0 the router's UPnP error code; below 0 the library's
    QString text;  // "606 Action not authorized", for people
    QString value; // the answer (an address, a client), when the command asks for one
    bool ok() const { return code == 0; }
    // The router was not reached, or its answer could not be read (not a refusal).
    bool unreachable() const { return code < 0; }
};

// An Internet gateway device found over UPnP, and the commands this program sends it. Every
// call blocks until the router answers or the library's own socket timeouts pass.
class UpnpGateway
{
public:
    // The gateway at `options.descriptionUrl`; without one, the gateway an earlier search in this
    // process found, if it still answers, else one found by discovery within
    // `options.discoveryWait`. With `overIpv6`, a gateway reached over IPv6 (its URL's host an
    // IPv6 address), as IPv6 firewall control needs: routers open pinholes only to the address a
    // request comes from.
    static Expected<std::unique_ptr<UpnpGateway>> find(const RouterOptions& options,
                                                       bool overIpv6 = false);

    ~UpnpGateway();
    UpnpGateway(const UpnpGateway&) = delete;
    UpnpGateway& operator=(const UpnpGateway&) = delete;

    QString descriptionUrl() const;
    // This machine's address on the way to the gateway: where mapped ports lead.
    QString lanAddress() const;
    // "UPnP IGD at URL", for people.
    QString where() const;

    UpnpReply externalAddress();
    UpnpReply addTcpMapping(quint16 port, std::chrono::seconds lease);
    // Where a TCP mapping of `port` leads ("192.168.1.20:80"); 714 when there is no such mapping.
    UpnpReply tcpMappingClient(quint16 port);
    UpnpReply deleteTcpMapping(quint16 port);

    // The IPv6 firewall control of UPnP IGD v2 (WANIPv6FirewallControl), when the router offers it.
    bool hasIpv6Firewall() const;
    // "1" when the firewall lets pinholes in ("0" when it has them switched off).
    UpnpReply inboundPinholesAllowed();
    // Opens TCP `port` of `ipv6` to any remote host; the value is the pinhole's id.
    UpnpReply addTcpPinhole(const QString& ipv6, quint16 port, std::chrono::seconds lease);
    UpnpReply updatePinhole(const QString& id, std::chrono::seconds lease);
    // Ok while the router has the pinhole; 704 when it has no such pinhole.
    UpnpReply checkPinhole(const QString& id);
    UpnpReply deletePinhole(const QString& id);

private:
    struct Device;
    explicit UpnpGateway(std::unique_ptr<Device> device);
    std::unique_ptr<Device> m_device;
};

} // namespace quendle::router
