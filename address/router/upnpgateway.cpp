#include "address/router/upnpgateway.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <mutex>

namespace quendle::router {

namespace {

// Asked for all at once in one discovery, so that it waits once, not once a type.
const char* const kGatewayTypes[] = {
    "urn:schemas-upnp-org:device:InternetGatewayDevice:1",
    "urn:schemas-upnp-org:device:InternetGatewayDevice:2",
    "urn:schemas-upnp-org:service:WANIPConnection:1",
    "urn:schemas-upnp-org:service:WANPPPConnection:1",
    nullptr,
};

constexpr unsigned char kMulticastTtl = 2; // the library's default: the LAN and one hop past it
constexpr const char* kMappingDescription = "quendle-publish";

// Discovery takes seconds: the description URL of the gateway found last is tried first next
// time. The address checks and the port mappings search from threads of their own.
std::mutex rememberedMutex;
QString rememberedUrl[2]; // over IPv4, over IPv6

QString remembered(bool overIpv6)
{
    const std::lock_guard lock(rememberedMutex);
    return rememberedUrl[overIpv6];
}

void remember(const QString& url, bool overIpv6)
{
    const std::lock_guard lock(rememberedMutex);
    rememberedUrl[overIpv6] = url;
}

bool hostIsIpv6(const QString& url)
{
    return url.contains(QLatin1String("://["));
}

UpnpReply reply(int code, const QByteArray& value = {})
{
    UpnpReply result;
    result.code = code;
    result.value = QString::fromUtf8(value);
    switch (code) {
    case UPNPCOMMAND_SUCCESS:
        break;
    case UPNPCOMMAND_HTTP_ERROR:
        result.text = QStringLiteral("the router did not answer the request");
        break;
    case UPNPCOMMAND_INVALID_RESPONSE:
        result.text = QStringLiteral("the router's answer could not be read");
        break;
    default: {
        const char* meaning = strupnperror(code);
        result.text = code > 0 ? QStringLiteral("%1 %2").arg(code).arg(
                                     QString::fromUtf8(meaning ? meaning : "(no description)"))
                               : QStringLiteral("the request failed (%1)").arg(code);
    }
    }
    return result;
}

} // namespace

struct UpnpGateway::Device
{
    UPNPUrls urls{};
    IGDdatas data{};
    char lanAddress[64] = {};

    ~Device() { FreeUPNPUrls(&urls); }
    const char* control() const { return urls.controlURL; }
    const char* service() const { return data.first.servicetype; }
    const char* firewallControl() const { return urls.controlURL_6FC; }
    const char* firewallService() const { return data.IPv6FC.servicetype; }
};

UpnpGateway::UpnpGateway(std::unique_ptr<Device> device) : m_device(std::move(device)) {}

UpnpGateway::~UpnpGateway() = default;

Expected<std::unique_ptr<UpnpGateway>> UpnpGateway::find(const RouterOptions& options,
                                                         bool overIpv6)
{
    auto device = std::make_unique<Device>();
    auto fromUrl = [&device](const QString& url) {
        return UPNP_GetIGDFromUrl(url.toUtf8().constData(), &device->urls, &device->data,
                                  device->lanAddress, sizeof device->lanAddress) == 1;
    };
    auto gateway = [&device] {
        return std::unique_ptr<UpnpGateway>(new UpnpGateway(std::move(device)));
    };
    if (!options.descriptionUrl.isEmpty() && (!overIpv6 || hostIsIpv6(options.descriptionUrl))) {
        if (fromUrl(options.descriptionUrl))
            return gateway();
        return Unexpected(QStringLiteral("no gateway description at %1: the router does not "
                                         "answer there, or not as an Internet gateway")
                              .arg(options.descriptionUrl));
    }
    if (const QString url = remembered(overIpv6); !url.isEmpty()) {
        if (fromUrl(url))
            return gateway();
        device = std::make_unique<Device>();
    }

    int error = UPNPDISCOVER_SUCCESS;
    const int waitMs = static_cast<int>(options.discoveryWait.count());
    UPNPDev* devices = upnpDiscoverDevices(kGatewayTypes, waitMs, nullptr, nullptr,
                                           UPNP_LOCAL_PORT_ANY, overIpv6, kMulticastTtl, &error, 1);
    if (!devices)
        return Unexpected(
            error == UPNPDISCOVER_SOCKET_ERROR
                ? QStringLiteral("the discovery could not be sent (no network to send it on)")
                : QStringLiteral("no device answered the discovery within %1 s")
                      .arg(static_cast<double>(waitMs) / 1000.0));
    const int found = UPNP_GetValidIGD(devices, &device->urls, &device->data, device->lanAddress,
                                       sizeof device->lanAddress);
    freeUPNPDevlist(devices);
    if (found == 1 || found == 2) {
        // A gateway that calls itself not connected still says why in its answer to
        // GetExternalIPAddress, which is what people need to see.
        remember(QString::fromUtf8(device->urls.rootdescURL), overIpv6);
        return gateway();
    }
    return Unexpected(found == 3 ? QStringLiteral("a UPnP device answered, but none is an Internet "
                                                  "gateway")
                                 : QStringLiteral("the devices that answered the discovery gave no "
                                                  "usable description"));
}

QString UpnpGateway::descriptionUrl() const
{
    return QString::fromUtf8(m_device->urls.rootdescURL);
}

QString UpnpGateway::lanAddress() const
{
    return QString::fromLatin1(m_device->lanAddress);
}

QString UpnpGateway::where() const
{
    return QStringLiteral("%1 at %2").arg(protocolName(Protocol::Upnp), descriptionUrl());
}

UpnpReply UpnpGateway::externalAddress()
{
    char address[40] = {};
    const int code = UPNP_GetExternalIPAddress(m_device->control(), m_device->service(), address);
    return reply(code, address);
}

UpnpReply UpnpGateway::addTcpMapping(quint16 port, std::chrono::seconds lease)
{
    const QByteArray portText = QByteArray::number(port);
    const QByteArray leaseText = QByteArray::number(static_cast<qlonglong>(lease.count()));
    return reply(UPNP_AddPortMapping(m_device->control(), m_device->service(), portText, portText,
                                     m_device->lanAddress, kMappingDescription, "TCP", nullptr,
                                     leaseText));
}

UpnpReply UpnpGateway::tcpMappingClient(quint16 port)
{
    // The sizes the library documents for each answer.
    char client[16] = {};
    char internalPort[6] = {};
    char description[80] = {};
    char enabled[4] = {};
    char lease[16] = {};
    const int code = UPNP_GetSpecificPortMappingEntry(
        m_device->control(), m_device->service(), QByteArray::number(port), "TCP", nullptr, client,
        internalPort, description, enabled, lease);
    return reply(code, code == UPNPCOMMAND_SUCCESS ? QByteArray(client) + ':' + internalPort
                                                   : QByteArray());
}

UpnpReply UpnpGateway::deleteTcpMapping(quint16 port)
{
    return reply(UPNP_DeletePortMapping(m_device->control(), m_device->service(),
                                        QByteArray::number(port), "TCP", nullptr));
}

} // namespace quendle::router

namespace quendle::router {

bool UpnpGateway::hasIpv6Firewall() const
{
    return m_device->firewallControl() && *m_device->firewallControl() &&
           *m_device->firewallService();
}

UpnpReply UpnpGateway::inboundPinholesAllowed()
{
    int enabled = 0;
    int allowed = 0;
    const int code = UPNP_GetFirewallStatus(m_device->firewallControl(),
                                            m_device->firewallService(), &enabled, &allowed);
    return reply(code, allowed || !enabled ? "1" : "0");
}

UpnpReply UpnpGateway::addTcpPinhole(const QString& ipv6, quint16 port, std::chrono::seconds lease)
{
    char id[8] = {}; // the library writes at most a few digits
    const QByteArray portText = QByteArray::number(port);
    const QByteArray leaseText = QByteArray::number(static_cast<qlonglong>(lease.count()));
    // An empty remote host and port 0: visitors from anywhere, from any port. 6 is TCP.
    const int code =
        UPNP_AddPinhole(m_device->firewallControl(), m_device->firewallService(), "", "0",
                        ipv6.toLatin1().constData(), portText, "6", leaseText, id);
    return reply(code, code == UPNPCOMMAND_SUCCESS ? QByteArray(id) : QByteArray());
}

UpnpReply UpnpGateway::updatePinhole(const QString& id, std::chrono::seconds lease)
{
    return reply(UPNP_UpdatePinhole(m_device->firewallControl(), m_device->firewallService(),
                                    id.toLatin1().constData(),
                                    QByteArray::number(static_cast<qlonglong>(lease.count()))));
}

UpnpReply UpnpGateway::checkPinhole(const QString& id)
{
    int packets = 0;
    return reply(UPNP_GetPinholePackets(m_device->firewallControl(), m_device->firewallService(),
                                        id.toLatin1().constData(), &packets));
}

UpnpReply UpnpGateway::deletePinhole(const QString& id)
{
    return reply(UPNP_DeletePinhole(m_device->firewallControl(), m_device->firewallService(),
                                    id.toLatin1().constData()));
}

} // namespace quendle::router
