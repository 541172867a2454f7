#include "cli/watchservices.h"

#include "base/reasontext.h"
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
                             const QString& statePath, std::function<EngineSnapshot()> snapshot)
    : m_settings(settings), m_platform(platform), m_statePath(statePath),
      m_snapshot(std::move(snapshot)), m_state(stateOfThisProcess(now()))
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
    if (m_ready)
        systemd::ready();
    takeSnapshot();
    writeState();
}

void WatchServices::report(const EngineEvent& event)
{
    if (std::holds_alternative<events::Alive>(event)) {
        systemd::watchdog();
        return;
    }
    std::visit([this](const auto& particular) { take(particular); }, event);
    // A burst of events (a round of many targets) is written once, when the loop is free again;
    // the way out at once, since the program ends after it.
    if (std::holds_alternative<events::Stopping>(event) ||
        std::holds_alternative<events::Stopped>(event)) {
        takeSnapshot();
        writeState();
        return;
    }
    if (m_writePending)
        return;
    m_writePending = true;
    m_platform.startTimer(std::chrono::milliseconds(0), [this] {
        m_writePending = false;
        takeSnapshot();
        writeState();
    });
}

void WatchServices::takeSnapshot()
{
    // The engine keeps steady time; the state file is read by people, in UTC.
    const auto steadyNow = m_platform.now();
    const QDateTime utcNow = now();
    const auto utc = [&](const std::optional<EnginePlatform::TimePoint>& time) {
        if (!time)
            return QDateTime();
        return utcNow.addMSecs(
            std::chrono::duration_cast<std::chrono::milliseconds>(*time - steadyNow).count());
    };
    m_state.targets.clear();
    for (const TargetStanding& target : m_snapshot().targets)
        // The state file is read by another process, which cannot know the secrets to hide.
        m_state.targets.append({target.id.kind, target.id.name, target.standing,
                                redactSecrets(target.reason), utc(target.lastAttempt),
                                utc(target.nextTry)});
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

void WatchServices::take(const events::FailingInARow& event)
{
    const QString reason = redactSecrets(event.reason);
    m_hooks.run(m_settings.hooks.onFailure,
                HookRunner::failureEnvironment(event.target.text(), reason));
    notify(targetFailingMessage(event.target.text(), event.failures, reason));
}

void WatchServices::take(const events::WorksAgain& event)
{
    notify(targetWorksAgainMessage(event.target.text()));
}

void WatchServices::take(const events::RoundEnded&)
{
    becomeReady();
    systemd::status(m_snapshot().summary());
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
    systemd::status(m_snapshot().summary());
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
                                 ? withDetails(QStringLiteral("HTTP %1").arg(sent.status),
                                               sent.answer)
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
