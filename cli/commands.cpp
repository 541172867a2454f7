#include "cli/commands.h"

#include "address/addresschangemonitor.h"
#include "cli/eventlog.h"
#include "cli/logger.h"
#include "cli/qtplatform.h"
#include "cli/signalnotifier.h"
#include "cli/systemdnotify.h"
#include "cli/watchlock.h"
#include "cli/watchservices.h"
#include "dns/dnsnamekeeper.h"
#include "service/addresslookup.h"
#include "service/nameaddresses.h"
#include "service/publishengine.h"
#include "service/publisherstate.h"
#include "service/secretregistry.h"
#include "service/servicework.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

#include <malloc.h>
#include <unistd.h>

namespace quendle::cli {

namespace {

// Sends each event to every listener, the log first.
class EventFanOut : public EngineEvents
{
public:
    void add(EngineEvents* listener) { m_listeners.push_back(listener); }
    void report(const EngineEvent& event) override
    {
        // A round over many targets leaves the heap full of freed answers and messages: the
        // pages go back once the loop is free again, when what brought the round's last
        // outcomes is gone too, since the program idles after it.
        if (std::holds_alternative<events::RoundEnded>(event))
            QTimer::singleShot(0, [] { ::malloc_trim(0); });
        for (EngineEvents* listener : m_listeners)
            listener->report(event);
    }

private:
    std::vector<EngineEvents*> m_listeners;
};

// Runs the engine on this thread's event loop until it stops, `begin` starting it and `end`
// dropping what it made while the event loop still exists; returns the exit status.
int runEngine(
    const PublisherSettings& settings, EventLog::Command command,
    const std::function<void(PublishEngine&, EnginePlatform&, EventFanOut&)>& begin,
    const std::function<void()>& end = [] {})
{
    int argc = 1;
    char name[] = "quendle-publish";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    int status = 1;
    {
        QtEnginePlatform platform;
        ServiceWork work;
        EventLog log(command, [](int exitStatus) { QCoreApplication::exit(exitStatus); });
        EventFanOut events;
        events.add(&log);
        PublishEngine engine(settings, platform, work, events);
        begin(engine, platform, events);
        status = app.exec();
        end();
        // The worker that ran the last job may still be leaving it when the loop ends.
        if (!platform.waitForWork(std::chrono::seconds(2))) {
            // A server that outlived every bound: its thread is not waited for.
            std::fflush(stderr);
            ::_exit(status);
        }
    }
    return status;
}

} // namespace

int publishOnce(const PublisherSettings& settings)
{
    return runEngine(
        settings, EventLog::Command::Once,
        [](PublishEngine& engine, EnginePlatform&, EventFanOut&) { engine.publishOnce(); });
}

int publishOffline(const PublisherSettings& settings)
{
    return runEngine(settings, EventLog::Command::Offline,
                     [](PublishEngine& engine, EnginePlatform&, EventFanOut&) {
                         engine.stop(QStringLiteral("offline"));
                     });
}

int watch(const PublisherSettings& settings)
{
    // Two watches on one state file would both publish and overwrite each other's state.
    if (const auto locked = takeWatchLock(defaultStatePath()); !locked) {
        logger::error(locked.error());
        return 2;
    }
    AddressChangeMonitor monitor;
    std::unique_ptr<QSocketNotifier> monitorNotifier;
    std::unique_ptr<SignalNotifier> signalNotifier;
    std::unique_ptr<WatchServices> services;
    return runEngine(
        settings, EventLog::Command::Watch,
        [&](PublishEngine& engine, EnginePlatform& platform, EventFanOut& events) {
            services = std::make_unique<WatchServices>(settings, platform, defaultStatePath(),
                                                       [&engine] { return engine.snapshot(); });
            events.add(services.get());
            signalNotifier = std::make_unique<SignalNotifier>();
            QObject::connect(
                signalNotifier.get(), &SignalNotifier::stopRequested,
                [&engine, &monitorNotifier](const QString& signalName) {
                    if (engine.stopping()) {
                        logger::warning(
                            QStringLiteral("%1 again: stopping without waiting").arg(signalName));
                        ::_exit(1);
                    }
                    if (monitorNotifier)
                        monitorNotifier->setEnabled(false);
                    engine.stop(signalName);
                });
            QObject::connect(signalNotifier.get(), &SignalNotifier::reloadRequested,
                             [&engine, &services] {
                                 services->reloading();
                                 engine.reload(readSettings(engine.settings().configFile));
                                 services->reloaded(engine.settings());
                             });
            if (monitor.listening()) {
                monitorNotifier =
                    std::make_unique<QSocketNotifier>(monitor.socket(), QSocketNotifier::Read);
                QObject::connect(monitorNotifier.get(), &QSocketNotifier::activated,
                                 [&engine, &monitor] {
                                     if (monitor.readChanges(engine.watchedInterface()))
                                         engine.addressNoticed();
                                 });
            } else {
                logger::warning(
                    QStringLiteral("kernel address notices unavailable (%1): changes are "
                                   "seen at the next check only")
                        .arg(monitor.error()));
            }
            // The watchdog is fed from the engine's own loop: a loop that hangs stops feeding it.
            if (const auto interval = systemd::watchdogInterval())
                engine.keepAlive(std::chrono::duration_cast<std::chrono::milliseconds>(*interval));
            engine.watch();
        },
        [&] {
            signalNotifier.reset();
            monitorNotifier.reset();
            services.reset();
        });
}

int showAddresses(const PublisherSettings& settings)
{
    QString shown;
    QTextStream out(&shown);
    const AddressRound round = findAddresses(settings, true);
    for (const FamilyAddress& found : round.families) {
        const QString family = familyPrefix(found.family, round.families.size());
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
    // Each LAN host's address under the prefix, and what keeps a name from a family.
    for (const DnsTargetSettings& target : settings.dnsTargets) {
        const NameAddresses chosen = nameAddresses(target, round);
        for (const NameAddress& record : chosen.records)
            if (!record.prefix.isEmpty())
                out << "dns " << target.name << ": host " << target.ipv6Host << " under the prefix "
                    << record.prefix << ": " << record.address << '\n';
        for (const QString& note : chosen.notes)
            out << "dns " << target.name << ": note: " << note << '\n';
    }
    // What each name holds now at its authoritative server, for each family it holds.
    for (const AddressFamily family : settings.address.families) {
        const QString type = recordTypeName(family);
        for (const DnsTargetSettings& target : settings.dnsTargets) {
            if ((!target.ipv6Host.isEmpty() && family == AddressFamily::Ipv4) ||
                (!target.families.isEmpty() && !target.families.contains(family)))
                continue;
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
    }
    out.flush();
    QTextStream(stdout) << redactSecrets(shown);
    return round.any() ? 0 : 1;
}

} // namespace quendle::cli
