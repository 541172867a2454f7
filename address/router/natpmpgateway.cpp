#include "address/router/natpmpgateway.h"

#include <natpmp.h>

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quendle::router {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// While a request waits, `cancel` is looked at this often.
constexpr auto kCancelLook = 100ms;

QString seconds(std::chrono::milliseconds wait)
{
    return QString::number(static_cast<double>(wait.count()) / 1000.0);
}

// The gateway's result codes (RFC 6886, 3.5) as the library reports them.
QString resultText(int code)
{
    switch (code) {
    case NATPMP_ERR_UNSUPPORTEDVERSION:
        return QStringLiteral("result code 1 (unsupported version)");
    case NATPMP_ERR_NOTAUTHORIZED:
        return QStringLiteral("result code 2 (not authorized or refused)");
    case NATPMP_ERR_NETWORKFAILURE:
        return QStringLiteral("result code 3 (network failure: it has no outside address)");
    case NATPMP_ERR_OUTOFRESOURCES:
        return QStringLiteral("result code 4 (out of resources: it can make no more mappings)");
    case NATPMP_ERR_UNSUPPORTEDOPCODE:
        return QStringLiteral("result code 5 (unsupported request)");
    case NATPMP_ERR_UNDEFINEDERROR:
        return QStringLiteral("an undefined result code");
    default:
        return {};
    }
}

} // namespace

struct NatpmpGateway::Session
{
    natpmp_t natpmp{};
    ~Session() { closenatpmp(&natpmp); }
};

NatpmpGateway::NatpmpGateway(std::unique_ptr<Session> session, std::chrono::milliseconds wait)
    : m_session(std::move(session)), m_wait(wait)
{
}

NatpmpGateway::~NatpmpGateway() = default;

Expected<std::unique_ptr<NatpmpGateway>> NatpmpGateway::open(std::chrono::milliseconds wait)
{
    auto session = std::make_unique<Session>();
    const int code = initnatpmp(&session->natpmp, 0, 0);
    const int error = errno;
    if (code == 0)
        return std::unique_ptr<NatpmpGateway>(new NatpmpGateway(std::move(session), wait));
    // The session's end closes the socket initnatpmp() may have left open.
    return Unexpected(code == NATPMP_ERR_CANNOTGETGATEWAY
                          ? QStringLiteral("this machine has no default gateway to ask")
                          : QStringLiteral("the request could not be prepared: %1")
                                .arg(QString::fromLocal8Bit(std::strerror(error))));
}

QString NatpmpGateway::gatewayAddress() const
{
    in_addr address{};
    address.s_addr = m_session->natpmp.gateway;
    char text[INET_ADDRSTRLEN] = {};
    return QString::fromLatin1(inet_ntop(AF_INET, &address, text, sizeof text));
}

QString NatpmpGateway::where() const
{
    return QStringLiteral("%1 at gateway %2").arg(protocolName(Protocol::Natpmp), gatewayAddress());
}

NatpmpReply NatpmpGateway::publicAddress(const std::atomic<bool>* cancel)
{
    return finish(sendpublicaddressrequest(&m_session->natpmp), cancel);
}

NatpmpReply NatpmpGateway::mapTcp(quint16 port, std::chrono::seconds lease)
{
    return finish(sendnewportmappingrequest(&m_session->natpmp, NATPMP_PROTOCOL_TCP, port, port,
                                            static_cast<uint32_t>(lease.count())),
                  nullptr);
}

NatpmpReply NatpmpGateway::finish(int sent, const std::atomic<bool>* cancel)
{
    NatpmpReply result;
    if (sent < 0) {
        result.code = sent;
        result.text = QStringLiteral("the request could not be sent: %1")
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    natpmp_t* natpmp = &m_session->natpmp;
    const auto deadline = Clock::now() + m_wait;
    natpmpresp_t response{};
    int code = NATPMP_TRYAGAIN;
    while (code == NATPMP_TRYAGAIN) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms || (cancel && cancel->load()))
            break;
        timeval untilRetry{};
        getnatpmprequesttimeout(natpmp, &untilRetry);
        auto wait = std::min(
            left, std::chrono::milliseconds(untilRetry.tv_sec * 1000 + untilRetry.tv_usec / 1000));
        if (cancel)
            wait = std::min(wait, std::chrono::milliseconds(kCancelLook));
        pollfd socket{natpmp->s, POLLIN, 0};
        ::poll(&socket, 1, static_cast<int>(std::max(wait, 1ms).count()));
        code = readnatpmpresponseorretry(natpmp, &response);
    }
    result.code = code;
    if (code == NATPMP_TRYAGAIN) {
        result.text = cancel && cancel->load()
                          ? QStringLiteral("stopped")
                          : QStringLiteral("no answer within %1 s").arg(seconds(m_wait));
    } else if (code == NATPMP_ERR_NOGATEWAYSUPPORT) {
        // The library's word for a refused port; running out of tries takes longer than the wait.
        result.text = QStringLiteral("it does not take NAT-PMP (nothing listens on its port %1)")
                          .arg(NATPMP_PORT);
    } else if (code == NATPMP_ERR_RECVFROM) {
        result.text =
            QStringLiteral("no answer: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    } else if (const QString said = resultText(code); !said.isEmpty()) {
        result.answered = true;
        result.noOutsideAddress = code == NATPMP_ERR_NETWORKFAILURE;
        result.text = said;
    } else if (code != 0) {
        result.text = QStringLiteral("the answer could not be read (%1)").arg(code);
    } else {
        result.answered = true;
        result.epochSeconds = response.epoch;
        if (response.type == NATPMP_RESPTYPE_PUBLICADDRESS) {
            char text[INET_ADDRSTRLEN] = {};
            result.address = QString::fromLatin1(
                inet_ntop(AF_INET, &response.pnu.publicaddress.addr, text, sizeof text));
        } else {
            result.publicPort = response.pnu.newportmapping.mappedpublicport;
            result.lifetimeSeconds = response.pnu.newportmapping.lifetime;
        }
    }
    return result;
}

} // namespace quendle::router
