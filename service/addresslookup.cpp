#include "service/addresslookup.h"

#include "address/interfacesource.h"
#include "address/ipv6addresses.h"
#include "address/publicaddress.h"
#include "address/router/routersource.h"
#include "address/web/websource.h"

namespace quendle {

namespace {

SourceAnswer askInterface(const PublisherSettings& settings, AddressFamily family,
                          const std::atomic<bool>*)
{
    return interfaceAddress(family, settings.address.interfaceName);
}

SourceAnswer askWeb(const PublisherSettings& settings, AddressFamily family,
                    const std::atomic<bool>* cancel)
{
    SourceAnswer answer = webAddress(settings.address.webUrl, family, cancel);
    // The echo's answer follows the traffic, and the traffic follows the default route.
    answer.interfaceName = defaultInterface(family);
    return answer;
}

SourceAnswer askRouter(const PublisherSettings& settings, AddressFamily,
                       const std::atomic<bool>* cancel)
{
    SourceAnswer answer = router::routerAddress(settings.router, cancel);
    // The router's answer changes with the line, not with this machine's interfaces; a change
    // on the way to the router (another network) is still worth a look.
    answer.interfaceName = defaultInterface(AddressFamily::Ipv4);
    return answer;
}

struct AddressSourceRule
{
    QLatin1StringView name;
    SourceAnswer (*ask)(const PublisherSettings&, AddressFamily, const std::atomic<bool>* cancel);
    bool ipv6;
};

// One row a source.
const AddressSourceRule kSources[] = {
    {QLatin1StringView("interface"), &askInterface, true},
    {QLatin1StringView("web"), &askWeb, true},
    {QLatin1StringView("router"), &askRouter, false},
};

const AddressSourceRule* ruleOf(const QString& name)
{
    for (const AddressSourceRule& rule : kSources)
        if (rule.name == name)
            return &rule;
    return nullptr;
}

const QLatin1StringView kRouter("router");
const QLatin1StringView kWeb("web");

QList<NamedAnswer> askFamily(const PublisherSettings& settings, AddressFamily family, bool askAll,
                             const std::atomic<bool>* cancel)
{
    QList<NamedAnswer> answers;
    for (const QString& source : settings.address.sources) {
        const AddressSourceRule* rule = ruleOf(source);
        if (!rule || !sourceFinds(source, family))
            continue;
        answers.append({source, rule->ask(settings, family, cancel)});
        if (answers.last().answer.ok() && !askAll)
            break;
    }
    return answers;
}

const NamedAnswer* answerOf(const QList<NamedAnswer>& answers, QLatin1StringView source)
{
    for (const NamedAnswer& named : answers)
        if (named.source == source)
            return &named;
    return nullptr;
}

void publish(FamilyAddress& result, const NamedAnswer& named)
{
    result.address = named.answer.address;
    result.source = named.source;
    result.origin = named.answer.origin;
    result.interfaceName = named.answer.interfaceName;
}

// The router's word on the line over the answer found (see findAddresses).
void judgeIpv4(FamilyAddress& result, const PublisherSettings& settings,
               const std::atomic<bool>* cancel)
{
    if (!settings.address.sources.contains(kRouter) || (cancel && cancel->load()))
        return;
    if (!answerOf(result.answers, kRouter))
        result.answers.append({kRouter, askRouter(settings, AddressFamily::Ipv4, cancel)});
    const NamedAnswer& router = *answerOf(result.answers, kRouter);
    if (router.answer.lineNotPublic) {
        result = FamilyAddress{
            AddressFamily::Ipv4, {}, {}, {}, {}, true, router.answer.interfaceName, result.notes,
            result.answers};
        result.reason =
            QStringLiteral("%1; an IPv4 address another source finds is the provider's or another "
                           "router's, which leads nowhere either. Ask the provider for a public "
                           "IPv4 address, or add ipv6 to [address] family")
                .arg(router.answer.error);
        return;
    }
    const NamedAnswer* web = answerOf(result.answers, kWeb);
    if (!router.answer.ok() || !web || !web->answer.ok() ||
        web->answer.address == router.answer.address || specialUseRange(web->answer.address))
        return;
    result.notes << QStringLiteral("the web echo sees %1 but the router's outside address is %2: "
                                   "another NAT or a proxy sits between the router and the "
                                   "Internet; %2 is published, since visitors come in through "
                                   "the router")
                        .arg(web->answer.address, router.answer.address);
    publish(result, router);
}

void judgeIpv6(FamilyAddress& result)
{
    if (result.source != kWeb)
        return;
    const auto stable = stableInsteadOfTemporary(kernelIpv6Addresses(), result.address);
    if (!stable)
        return;
    result.notes << QStringLiteral("the web echo sees %1, a temporary address of interface %2 "
                                   "that the kernel replaces in a day or so; its stable address "
                                   "%3 of the same prefix is published instead")
                        .arg(result.address, stable->interfaceName, stable->address);
    result.address = stable->address;
    result.interfaceName = stable->interfaceName;
}

FamilyAddress findFamily(const PublisherSettings& settings, AddressFamily family, bool askAll,
                         const std::atomic<bool>* cancel)
{
    FamilyAddress result;
    result.family = family;
    result.answers = askFamily(settings, family, askAll, cancel);
    for (const NamedAnswer& named : result.answers) {
        if (named.answer.ok()) {
            publish(result, named);
            break;
        }
    }
    if (family == AddressFamily::Ipv4)
        judgeIpv4(result, settings, cancel);
    else if (!result.address.isEmpty())
        judgeIpv6(result);
    if (!result.address.isEmpty() || !result.reason.isEmpty())
        return result;

    // The notices that matter without an answer: those of the first interface a source named.
    QStringList failures;
    for (const NamedAnswer& named : result.answers) {
        failures << QStringLiteral("%1: %2").arg(named.source, named.answer.error);
        if (result.interfaceName.isEmpty())
            result.interfaceName = named.answer.interfaceName;
    }
    result.reason = failures.isEmpty()
                        ? QStringLiteral("no source of [address] sources finds %1 addresses")
                              .arg(familyName(family))
                        : failures.join(QStringLiteral("; "));
    return result;
}

} // namespace

QStringList addressSourceNames()
{
    QStringList names;
    for (const AddressSourceRule& rule : kSources)
        names << rule.name;
    return names;
}

bool sourceFinds(const QString& name, AddressFamily family)
{
    const AddressSourceRule* rule = ruleOf(name);
    return rule && (family == AddressFamily::Ipv4 || rule->ipv6);
}

bool AddressRound::any() const
{
    for (const FamilyAddress& found : families)
        if (!found.address.isEmpty())
            return true;
    return false;
}

QString AddressRound::addressOf(AddressFamily family) const
{
    for (const FamilyAddress& found : families)
        if (found.family == family)
            return found.address;
    return {};
}

QStringList AddressRound::addresses() const
{
    QStringList found;
    for (const FamilyAddress& family : families)
        if (!family.address.isEmpty())
            found << family.address;
    return found;
}

AddressRound findAddresses(const PublisherSettings& settings, bool askAll,
                           const std::atomic<bool>* cancel)
{
    AddressRound round;
    for (const AddressFamily family : settings.address.families)
        round.families << findFamily(settings, family, askAll, cancel);
    return round;
}

} // namespace quendle
