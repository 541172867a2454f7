#include "cli/watchservices.h"

#include "cli/logger.h"
#include "cli/systemdnotify.h"
#include "service/notification.h"
#include "service/secretregistry.h"
#include "service/statusreport.h"

namespace quendle::cli {

namespace {

QDateTime now()
{
    return QDateTime::currentDateTimeUtc();
}

QString familyKey(AddressFamily family)
{
    return family == AddressFamily::Ipv6 ? QStringLiteral("ipv6") : QStringLiteral("ipv4");
}

} // namespace

WatchServices::WatchServices(const PublisherSettings& settings, EnginePlatform& platform,
                             const QString& statePath)
    : m_settings(settings), m_platform(platform), m_statePath(statePath),
      m_state(stateOfThisProcess(now()))
{
    keepHistory();
    reloaded(settings);
    QObject::connect(&m_hooks, &HookRunner::logLine, [](const QString& line, bool problem) {
        if (problem)
            logger::warning(line);
        else
            logger::info(line);
    });
}

// The history goes on from the state file of the watch before; one that cannot be read is
// replaced.
void WatchServices::keepHistory()
{
    const auto previous = readStateFile(m_statePath);
    QString problem;
    if (const auto* state = std::get_if<PublisherState>(&previous)) {
        m_state.history = state->history;
        if (!state->historyProblem.isEmpty())
            problem = QStringLiteral("%1: %2").arg(m_statePath, state->historyProblem);
    } else if (const auto* unread = std::get_if<QString>(&previous)) {
        problem = *unread;
    }
    if (!problem.isEmpty())
        logger::warning(
            QStringLiteral("the address history cannot be read: %1; a new history starts")
                .arg(problem));
}

void WatchServices::reloading()
{
    systemd::reloading();
}

void WatchServices::reloaded(const PublisherSettings& settings)
{
    m_settings = settings;
    // The targets of the new configuration, each keeping what is known of it.
    QList<PublisherState::Target> targets;
    QStringList names;
    for (const TargetSettings& page : settings.targets)
        names << page.name;
    for (const DnsTargetSettings& name : settings.dnsTargets)
        names << name.name;
    for (const QString& name : names) {
        PublisherState::Target kept;
        kept.name = name;
        for (const PublisherState::Target& known : m_state.targets)
            if (known.name == name)
                kept = known;
        targets << kept;
    }
    m_state.targets = targets;
    if (m_ready)
        systemd::ready();
    writeState();
}

void WatchServices::report(const EngineEvent& event)
{
    std::visit([this](const auto& particular) { take(particular); }, event);
    if (!std::holds_alternative<events::Alive>(event))
        writeState();
}

PublisherState::Target& WatchServices::target(const QString& name)
{
    for (PublisherState::Target& known : m_state.targets)
        if (known.name == name)
            return known;
    // A target a reload removed, finishing its last upload: not shown any more.
    m_gone = PublisherState::Target{};
    return m_gone;
}

void WatchServices::take(const events::AddressFound& event)
{
    const FamilyAddress& found = event.found;
    const QString key = familyKey(found.family);
    PublisherState::Family* family = nullptr;
    for (PublisherState::Family& known : m_state.families)
        if (known.family == key)
            family = &known;
    if (!family) {
        m_state.families.append({key, {}, {}, {}});
        family = &m_state.families.last();
    }
    *family = {key, found.address, found.source, now()};
    recordAddressChange(m_state, {now(), key, event.previous, found.address, found.source});

    m_hooks.run(m_settings.hooks.onChange,
                HookRunner::changeEnvironment(found.family, found.address, event.previous));
    // A notification for a change; the first address at start is no news.
    if (!event.previous.isEmpty())
        notify(addressChangedMessage(found.family, event.previous, found.address));
}

void WatchServices::take(const events::FamilyNotPublished& event)
{
    for (PublisherState::Family& known : m_state.families)
        if (known.family == familyKey(event.found.family))
            known = {known.family, {}, {}, now()};
}

void WatchServices::take(const events::UploadStarted& event)
{
    PublisherState::Target& known = target(event.target);
    known.lastAttempt = now();
    known.nextRetry = {};
}

void WatchServices::take(const events::UploadEnded& event)
{
    if (event.offline)
        return;
    PublisherState::Target& known = target(event.target);
    const TargetOutcome& outcome = event.outcome;
    known.result = outcome.ok ? PublisherState::Result::Uploaded : PublisherState::Result::Failed;
    // The state file is read by another process, which cannot know the secrets to hide.
    known.reason = outcome.ok ? QString() : redactSecrets(outcome.reason);
    switch (outcome.check) {
    case TargetOutcome::Check::None:
        known.verification = PublisherState::Verification::NotChecked;
        break;
    case TargetOutcome::Check::Verified:
        known.verification = PublisherState::Verification::Verified;
        break;
    case TargetOutcome::Check::NotVerified:
        known.verification = PublisherState::Verification::Unverified;
        known.reason = redactSecrets(outcome.checkNote);
        break;
    }
}

void WatchServices::take(const events::RetryPlanned& event)
{
    target(event.target).nextRetry = now().addMSecs(event.delay.count());
}

void WatchServices::take(const events::TargetHeld& event)
{
    PublisherState::Target& known = target(event.target);
    known.reason = QStringLiteral("the server refused the login; waiting for a reload");
    known.nextRetry = {};
}

void WatchServices::take(const events::FailingInARow& event)
{
    const QString reason = redactSecrets(event.reason);
    m_hooks.run(m_settings.hooks.onFailure, HookRunner::failureEnvironment(event.target, reason));
    notify(targetFailingMessage(event.target, event.failures, reason));
}

void WatchServices::take(const events::WorksAgain& event)
{
    notify(targetWorksAgainMessage(event.target));
}

void WatchServices::take(const events::NotVerified& event)
{
    PublisherState::Target& known = target(event.target);
    known.verification = PublisherState::Verification::Unverified;
    known.reason = redactSecrets(event.note);
}

void WatchServices::take(const events::VerifiedLater& event)
{
    PublisherState::Target& known = target(event.target);
    known.verification = PublisherState::Verification::Verified;
    known.reason.clear();
}

void WatchServices::take(const events::RoundEnded&)
{
    becomeReady();
    systemd::status(roundSummary(m_state));
}

void WatchServices::take(const events::PageNotWritten&)
{
    becomeReady();
    systemd::status(QStringLiteral("the page file could not be written"));
}

void WatchServices::take(const events::AddressNotFound&)
{
    // A round that found nothing to publish is a round too: the service is up and says why.
    becomeReady();
    systemd::status(roundSummary(m_state));
}

void WatchServices::take(const events::PortsNoted& event)
{
    for (const router::MappingNote& note : event.notes) {
        if (note.port == 0)
            continue;
        PublisherState::Mapping* mapping = nullptr;
        for (PublisherState::Mapping& known : m_state.mappings)
            if (known.port == note.port)
                mapping = &known;
        if (!mapping) {
            m_state.mappings.append(PublisherState::Mapping{});
            mapping = &m_state.mappings.last();
        }
        mapping->port = note.port;
        mapping->protocol = note.protocol;
        mapping->leaseUntil = now().addSecs(note.lease.count());
        mapping->note = note.level == router::MappingNote::Level::Warning ? note.text : QString();
    }
}

void WatchServices::take(const events::Stopping&)
{
    systemd::stopping();
}

void WatchServices::take(const events::Alive&)
{
    systemd::watchdog();
}

void WatchServices::becomeReady()
{
    if (m_ready)
        return;
    m_ready = true;
    systemd::ready();
}

void WatchServices::notify(const QString& line)
{
    if (m_settings.notify.url.isEmpty())
        return;
    // On a worker of its own: a notification server that does not answer holds up nothing.
    m_platform.run(QStringLiteral("notify"), [settings = m_settings.notify, line] {
        const NotifyResult sent = sendNotification(settings, line);
        return [sent] {
            if (sent.ok)
                logger::debug(QStringLiteral("notification sent (HTTP %1)").arg(sent.status));
            else
                logger::warning(
                    QStringLiteral("notification not sent: %1")
                        .arg(sent.error.isEmpty()
                                 ? QStringLiteral("HTTP %1: %2").arg(sent.status).arg(sent.answer)
                                 : sent.error));
        };
    });
}

void WatchServices::writeState()
{
    m_state.written = {};
    const auto problem = writeStateFile(m_statePath, m_state);
    const QString text = problem.value_or(QString());
    if (!text.isEmpty() && text != m_stateProblem)
        logger::warning(QStringLiteral("the state file was not written: %1").arg(text));
    m_stateProblem = text;
}

} // namespace quendle::cli
