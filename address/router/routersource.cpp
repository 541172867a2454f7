#include "address/router/routersource.h"

#include "address/ipaddresstext.h"
#include "address/publicaddress.h"
#include "address/router/natpmpgateway.h"
#include "address/router/upnpgateway.h"

#include <algorithm>

namespace quendle::router {

namespace {

struct Attempt
{
    Protocol protocol;
    QString where;   // "UPnP IGD at URL"; the protocol's name when nothing was found
    QString said;    // what came back, for people
    QString address; // public; empty when the attempt failed
    QString problem;
    bool lineNotPublic = false; // the router told an outside address visitors cannot reach
};

const QString kNoOutsideAddress =
    QStringLiteral("the router reports no outside address: its own line is most likely behind "
                   "another NAT (such as the provider's carrier-grade NAT), so visitors cannot "
                   "reach it");

void judge(Attempt& attempt, const QString& answer)
{
    if (const auto problem = whyNotReachable(answer)) {
        attempt.problem = *problem;
        // An answer that is no address at all tells nothing about the line.
        attempt.lineNotPublic =
            answer.isEmpty() || canonicalAddress(answer, AddressFamily::Ipv4).has_value();
    } else
        attempt.address = answer;
}

Attempt askUpnp(const RouterOptions& options)
{
    Attempt attempt{Protocol::Upnp, protocolName(Protocol::Upnp), {}, {}, {}, false};
    const UpnpGateway::Search search = UpnpGateway::find(options);
    if (!search.gateway) {
        attempt.said = attempt.problem = search.problem;
        return attempt;
    }
    attempt.where = search.gateway->where();
    const UpnpReply reply = search.gateway->externalAddress();
    if (!reply.ok()) {
        attempt.said = reply.unreachable() ? reply.text : QStringLiteral("answered ") + reply.text;
        attempt.problem =
            QStringLiteral("the router did not tell its outside address: %1").arg(reply.text);
        return attempt;
    }
    attempt.said = reply.value.isEmpty() ? QStringLiteral("answered an empty address")
                                         : QStringLiteral("answered %1").arg(reply.value);
    judge(attempt, reply.value);
    return attempt;
}

Attempt askNatpmp(const RouterOptions& options, const std::atomic<bool>* cancel)
{
    Attempt attempt{Protocol::Natpmp, protocolName(Protocol::Natpmp), {}, {}, {}, false};
    const NatpmpGateway::Opening opening = NatpmpGateway::open(options.natpmpWait);
    if (!opening.gateway) {
        attempt.said = attempt.problem = opening.problem;
        return attempt;
    }
    attempt.where = opening.gateway->where();
    const NatpmpReply reply = opening.gateway->publicAddress(cancel);
    if (!reply.ok()) {
        attempt.said = reply.answered ? QStringLiteral("answered ") + reply.text : reply.text;
        attempt.lineNotPublic = reply.noOutsideAddress;
        attempt.problem = reply.noOutsideAddress
                              ? kNoOutsideAddress
                              : QStringLiteral("the gateway %1: %2")
                                    .arg(opening.gateway->gatewayAddress(), reply.text);
        return attempt;
    }
    attempt.said = QStringLiteral("answered %1").arg(reply.address);
    judge(attempt, reply.address);
    return attempt;
}

// One reason when every protocol came to the same, else each protocol's own.
QString failureOf(const QList<Attempt>& attempts)
{
    QStringList reasons;
    bool allSame = true;
    for (const Attempt& attempt : attempts) {
        reasons << QStringLiteral("%1: %2").arg(protocolName(attempt.protocol), attempt.problem);
        allSame = allSame && attempt.problem == attempts.first().problem;
    }
    return allSame ? attempts.first().problem : reasons.join(QStringLiteral("; "));
}

} // namespace

QString protocolName(Protocol protocol)
{
    return protocol == Protocol::Upnp ? QStringLiteral("UPnP IGD") : QStringLiteral("NAT-PMP");
}

std::optional<QString> whyNotReachable(const QString& answer)
{
    if (answer.isEmpty())
        return kNoOutsideAddress;
    const auto address = canonicalAddress(answer, AddressFamily::Ipv4);
    if (!address)
        return QStringLiteral("the router's answer \"%1\" is not an IPv4 address").arg(answer);
    const auto range = specialUseRange(*address);
    if (!range)
        return std::nullopt;
    const QString kind = QStringLiteral("%1, %2").arg(range->purpose, range->cidr);
    if (range->behindNat)
        return QStringLiteral("the router's own outside address %1 is not public (%2): this "
                              "line is behind another NAT, so visitors cannot reach it")
            .arg(*address, kind);
    return QStringLiteral("the router's outside address %1 is not public (%2): visitors cannot "
                          "reach it")
        .arg(*address, kind);
}

SourceAnswer routerAddress(const RouterOptions& options, const std::atomic<bool>* cancel)
{
    SourceAnswer answer;
    QList<Attempt> attempts;
    for (const Protocol protocol : options.protocols) {
        if (cancel && cancel->load()) {
            answer.error = QStringLiteral("stopped");
            return answer;
        }
        attempts << (protocol == Protocol::Upnp ? askUpnp(options) : askNatpmp(options, cancel));
        const Attempt& last = attempts.last();
        answer.steps << QStringLiteral("%1: %2").arg(last.where, last.said);
        if (!last.address.isEmpty()) {
            answer.address = last.address;
            answer.origin = last.where;
            return answer;
        }
    }
    answer.error = attempts.isEmpty() ? QStringLiteral("no protocol to ask the router with")
                                      : failureOf(attempts);
    answer.lineNotPublic =
        std::any_of(attempts.begin(), attempts.end(),
                    [](const Attempt& attempt) { return attempt.lineNotPublic; });
    return answer;
}

} // namespace quendle::router
