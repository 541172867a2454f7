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
    if (const auto address = reachableAddress(answer)) {
        attempt.address = *address;
    } else {
        attempt.problem = address.error();
        // An answer that is no address at all tells nothing about the line.
        attempt.lineNotPublic =
            answer.isEmpty() || canonicalAddress(answer, AddressFamily::Ipv4).has_value();
    }
}

Attempt askUpnp(const RouterOptions& options)
{
    Attempt attempt{Protocol::Upnp, protocolName(Protocol::Upnp), {}, {}, {}, false};
    const auto gateway = UpnpGateway::find(options);
    if (!gateway) {
        attempt.said = attempt.problem = gateway.error();
        return attempt;
    }
    attempt.where = (*gateway)->where();
    const UpnpReply reply = (*gateway)->externalAddress();
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
    const auto gateway = NatpmpGateway::open(options.natpmpWait);
    if (!gateway) {
        attempt.said = attempt.problem = gateway.error();
        return attempt;
    }
    attempt.where = (*gateway)->where();
    const NatpmpReply reply = (*gateway)->publicAddress(cancel);
    if (!reply.ok()) {
        attempt.said = reply.answered ? QStringLiteral("answered ") + reply.text : reply.text;
        attempt.lineNotPublic = reply.noOutsideAddress;
        attempt.problem = reply.noOutsideAddress
                              ? kNoOutsideAddress
                              : QStringLiteral("the gateway %1: %2")
                                    .arg((*gateway)->gatewayAddress(), reply.text);
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

Expected<QString> reachableAddress(const QString& answer)
{
    if (answer.isEmpty())
        return Unexpected(kNoOutsideAddress);
    return publicIpv4(answer, AddressTeller::Router);
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
