#include "service/addresslookup.h"

#include "address/interfacesource.h"
#include "address/router/routersource.h"
#include "address/web/websource.h"

namespace quendle {

namespace {

SourceAnswer askInterface(const PublisherSettings& settings, const std::atomic<bool>*)
{
    return interfaceAddress(settings.address.family, settings.address.interfaceName);
}

SourceAnswer askWeb(const PublisherSettings& settings, const std::atomic<bool>* cancel)
{
    SourceAnswer answer = webAddress(settings.address.webUrl, settings.address.family, cancel);
    // The echo's answer follows the traffic, and the traffic follows the default route.
    answer.interfaceName = defaultInterface(settings.address.family);
    return answer;
}

SourceAnswer askRouter(const PublisherSettings& settings, const std::atomic<bool>* cancel)
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
    SourceAnswer (*ask)(const PublisherSettings&, const std::atomic<bool>* cancel);
};

// One row a source.
const AddressSourceRule kSources[] = {
    {QLatin1StringView("interface"), &askInterface},
    {QLatin1StringView("web"), &askWeb},
    {QLatin1StringView("router"), &askRouter},
};

} // namespace

QStringList addressSourceNames()
{
    QStringList names;
    for (const AddressSourceRule& rule : kSources)
        names << rule.name;
    return names;
}

QList<NamedAnswer> askSources(const PublisherSettings& settings, bool askAll,
                              const std::atomic<bool>* cancel)
{
    QList<NamedAnswer> answers;
    for (const QString& source : settings.address.sources) {
        for (const AddressSourceRule& rule : kSources) {
            if (rule.name != source)
                continue;
            answers.append({source, rule.ask(settings, cancel)});
            if (answers.last().answer.ok() && !askAll)
                return answers;
        }
    }
    return answers;
}

bool AddressRound::any() const
{
    for (const FamilyAddress& family : families)
        if (!family.address.isEmpty())
            return true;
    return false;
}

AddressRound findAddresses(const PublisherSettings& settings, bool askAll,
                           const std::atomic<bool>* cancel)
{
    FamilyAddress found;
    found.family = settings.address.family;
    found.answers = askSources(settings, askAll, cancel);
    QStringList failures;
    for (const NamedAnswer& named : found.answers) {
        if (named.answer.ok() && found.address.isEmpty()) {
            found.address = named.answer.address;
            found.source = named.source;
            found.origin = named.answer.origin;
            found.interfaceName = named.answer.interfaceName;
        } else if (!named.answer.ok()) {
            failures << QStringLiteral("%1: %2").arg(named.source, named.answer.error);
        }
    }
    // Without an answer, the notices that matter are those of the first interface a source named.
    for (const NamedAnswer& named : found.answers)
        if (found.interfaceName.isEmpty())
            found.interfaceName = named.answer.interfaceName;
    if (found.address.isEmpty())
        found.reason = failures.join(QStringLiteral("; "));
    return {{found}};
}

} // namespace quendle
