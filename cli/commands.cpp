#include "cli/commands.h"

#include "cli/logger.h"
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

// "IPv6 " before the lines of a family when two are configured; with one, nothing, as before.
QString familyPrefix(const AddressRound& round, const FamilyAddress& found)
{
    return round.families.size() > 1 ? familyName(found.family) + QLatin1Char(' ') : QString();
}

} // namespace

int publishOnce(const PublisherSettings& settings)
{
    const AddressRound round = findAddresses(settings);
    for (const FamilyAddress& found : round.families) {
        const QString family = familyPrefix(round, found);
        for (const NamedAnswer& named : found.answers)
            if (!named.answer.ok())
                logger::warning(QStringLiteral("%1source %2: %3")
                                    .arg(family, named.source, named.answer.error));
        for (const QString& note : found.notes)
            logger::warning(family + note);
        if (!found.address.isEmpty())
            logger::info(QStringLiteral("%1address %2 found by %3 (%4)")
                             .arg(family, found.address, found.source, found.origin));
        else if (round.families.size() > 1 || found.lineNotPublic)
            logger::warning(
                QStringLiteral("%1address not published: %2").arg(family, found.reason));
    }
    if (!round.any()) {
        logger::error(QStringLiteral("address not found: nothing was uploaded"));
        return 1;
    }
    if (const auto error = writeOnlinePage(settings, round.addressOf(AddressFamily::Ipv4),
                                           round.addressOf(AddressFamily::Ipv6))) {
        logger::error(*error);
        return 1;
    }
    return publishToEveryTarget(settings, "page") ? 0 : 1;
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
    const AddressRound round = findAddresses(settings, true);
    for (const FamilyAddress& found : round.families) {
        const QString family = familyPrefix(round, found);
        for (const NamedAnswer& named : found.answers) {
            if (named.answer.ok())
                out << family << named.source << ": " << named.answer.address << " ("
                    << named.answer.origin << ")\n";
            else
                out << family << named.source << ": no answer: " << named.answer.error << '\n';
            for (const QString& step : named.answer.steps)
                out << "  " << step << '\n';
        }
        for (const QString& note : found.notes)
            out << family << "note: " << note << '\n';
        if (!found.address.isEmpty() && (!found.notes.isEmpty() || round.families.size() > 1))
            out << family << "published: " << found.address << " (" << found.source << ")\n";
        else if (found.address.isEmpty() && (round.families.size() > 1 || found.lineNotPublic))
            out << family << "not published: " << found.reason << '\n';
    }
    return round.any() ? 0 : 1;
}

} // namespace quendle::cli
