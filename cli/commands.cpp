#include "cli/commands.h"

#include "cli/logger.h"
#include "dns/dnsnamekeeper.h"
#include "service/addresslookup.h"
#include "service/pagewriter.h"
#include "service/targetpublisher.h"

#include <QTextStream>

#include <thread>
#include <vector>

namespace quendle::cli {

namespace {

// Sends the page file to every target at once, each on a thread of its own, so that a server
// that does not answer holds up no other. True when every target got it.
bool publishToEveryTarget(const PublisherSettings& settings, const char* what)
{
    std::vector<TargetOutcome> outcomes(static_cast<size_t>(settings.targets.size()));
    {
        std::vector<std::jthread> threads;
        for (qsizetype i = 0; i < settings.targets.size(); ++i)
            threads.emplace_back([&settings, &outcomes, i] {
                TargetPublisher publisher(settings.targets[i]);
                outcomes[static_cast<size_t>(i)] = publisher.publish(settings.page.file);
            });
    }
    bool allOk = true;
    for (qsizetype i = 0; i < settings.targets.size(); ++i) {
        const TargetOutcome& outcome = outcomes[static_cast<size_t>(i)];
        const QString& name = settings.targets[i].name;
        if (outcome.ok) {
            logger::info(QStringLiteral("%1: %2 uploaded (%3 bytes, %4 ms)")
                             .arg(name, QLatin1String(what))
                             .arg(outcome.bytes)
                             .arg(outcome.milliseconds));
        } else {
            logger::error(QStringLiteral("%1: %2: %3").arg(name, outcome.reason, outcome.details));
            allOk = false;
        }
    }
    return allOk;
}

// Makes every DNS name hold `address`, each name on a thread of its own. True when every name
// holds it at its server.
bool publishToEveryName(const PublisherSettings& settings, const QString& address)
{
    std::vector<DnsOutcome> outcomes(static_cast<size_t>(settings.dnsTargets.size()));
    {
        std::vector<std::jthread> threads;
        for (qsizetype i = 0; i < settings.dnsTargets.size(); ++i)
            threads.emplace_back([&settings, &outcomes, &address, i] {
                DnsNameKeeper keeper(settings.dnsTargets[i]);
                outcomes[static_cast<size_t>(i)] =
                    keeper.publish(settings.address.family, address, true);
            });
    }
    bool allOk = true;
    for (qsizetype i = 0; i < settings.dnsTargets.size(); ++i) {
        const DnsOutcome& outcome = outcomes[static_cast<size_t>(i)];
        const QString& name = settings.dnsTargets[i].name;
        const bool ok = outcome.status == DnsOutcome::Status::Published ||
                        outcome.status == DnsOutcome::Status::AlreadyCurrent;
        if (ok)
            logger::info(QStringLiteral("%1: %2 (%3 ms)")
                             .arg(name, outcome.reason)
                             .arg(outcome.milliseconds));
        else
            logger::error(QStringLiteral("%1: %2%3")
                              .arg(name, outcome.reason,
                                   outcome.details.isEmpty()
                                       ? QString()
                                       : QStringLiteral(" (%1)").arg(outcome.details)));
        allOk = allOk && ok;
    }
    return allOk;
}

} // namespace

int publishOnce(const PublisherSettings& settings)
{
    const QList<NamedAnswer> answers = askSources(settings);
    const NamedAnswer* found = nullptr;
    for (const NamedAnswer& named : answers) {
        if (named.answer.ok())
            found = &named;
        else
            logger::warning(QStringLiteral("source %1: %2").arg(named.source, named.answer.error));
    }
    if (!found) {
        logger::error(QStringLiteral("address not found: nothing was uploaded"));
        return 1;
    }
    logger::info(QStringLiteral("address %1 found by %2 (%3)")
                     .arg(found->answer.address, found->source, found->answer.origin));
    if (const auto error = writeOnlinePage(settings, found->answer.address)) {
        logger::error(*error);
        return 1;
    }
    const bool pagesOk = publishToEveryTarget(settings, "page");
    const bool namesOk = publishToEveryName(settings, found->answer.address);
    return pagesOk && namesOk ? 0 : 1;
}

int publishOffline(const PublisherSettings& settings)
{
    if (const auto error = writeOfflinePage(settings)) {
        logger::error(*error);
        return 1;
    }
    return publishToEveryTarget(settings, "offline page") ? 0 : 1;
}

int showAddresses(const PublisherSettings& settings)
{
    QTextStream out(stdout);
    bool anyAnswer = false;
    for (const NamedAnswer& named : askSources(settings, true)) {
        if (named.answer.ok())
            out << named.source << ": " << named.answer.address << " (" << named.answer.origin
                << ")\n";
        else
            out << named.source << ": no answer: " << named.answer.error << '\n';
        for (const QString& step : named.answer.steps)
            out << "  " << step << '\n';
        anyAnswer = anyAnswer || named.answer.ok();
    }
    // What each name holds now at its authoritative server.
    const AddressFamily family = settings.address.family;
    const QString type =
        family == AddressFamily::Ipv4 ? QStringLiteral("A") : QStringLiteral("AAAA");
    for (const DnsTargetSettings& target : settings.dnsTargets) {
        const DnsLookup lookup = DnsNameKeeper(target).holds(family);
        out << "dns " << target.name << ": " << target.dnsName << ' ' << type;
        if (!lookup.ok)
            out << ": no answer: " << lookup.error << '\n';
        else
            out << ' '
                << (lookup.held.isEmpty() ? QStringLiteral("no record")
                                          : lookup.held.join(QStringLiteral(", ")))
                << " (at " << lookup.server << ")\n";
    }
    return anyAnswer ? 0 : 1;
}

} // namespace quendle::cli
