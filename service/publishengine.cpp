#include "service/publishengine.h"

#include "service/enginetarget.h"
#include "service/retryschedule.h"

#include <algorithm>

namespace quendle {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

PublishEngine::PublishEngine(const PublisherSettings& settings, EnginePlatform& platform,
                             EngineWork& work, EngineEvents& events)
    : m_settings(settings), m_platform(platform), m_work(work), m_events(events),
      m_checkTimer(platform), m_noticeTimer(platform), m_portTimer(platform),
      m_aliveTimer(platform), m_stopBound(platform)
{
}

PublishEngine::~PublishEngine()
{
    m_cancelChecks->store(true);
}

void PublishEngine::run(const QString& lane, std::function<EnginePlatform::Continuation()> work)
{
    std::weak_ptr<bool> alive = m_alive;
    m_platform.run(lane, [alive, work = std::move(work)]() -> EnginePlatform::Continuation {
        EnginePlatform::Continuation next = work();
        return [alive, next = std::move(next)] {
            if (alive.lock())
                next();
        };
    });
}

milliseconds PublishEngine::checkInterval() const
{
    return milliseconds(static_cast<long long>(m_settings.address.checkSeconds * 1000));
}

void PublishEngine::watch()
{
    m_mode = Mode::Watch;
    addTargets();
    keepPorts(m_settings.router);
    startCheckTimer();
    requestCheck(true);
}

void PublishEngine::publishOnce()
{
    m_mode = Mode::Once;
    addTargets();
    requestCheck(true);
}

void PublishEngine::startCheckTimer()
{
    m_checkTimer.start(checkInterval(), [this] {
        startCheckTimer();
        requestCheck(false);
    });
}

QList<PublishEngine::AnyTarget> PublishEngine::configuredTargets() const
{
    QList<AnyTarget> all;
    for (const TargetSettings& page : m_settings.targets)
        all << page;
    for (const DnsTargetSettings& name : m_settings.dnsTargets)
        all << name;
    return all;
}

QString PublishEngine::keyOf(const AnyTarget& settings)
{
    // A page and a DNS name may share a name: each kind has a key of its own.
    if (const auto* name = std::get_if<DnsTargetSettings>(&settings))
        return QStringLiteral("dns ") + name->name;
    return QStringLiteral("target ") + std::get<TargetSettings>(settings).name;
}

void PublishEngine::addTargets()
{
    for (const AnyTarget& target : configuredTargets())
        addTarget(target);
}

void PublishEngine::addTarget(const AnyTarget& settings)
{
    // One worker a target: a replaced one logs out before its successor's first upload.
    const QString key = keyOf(settings);
    const QString lane = key;
    const auto* name = std::get_if<DnsTargetSettings>(&settings);
    m_targets[key] = std::make_shared<Target>(
        m_platform, settings,
        name ? m_work.openName(*name) : m_work.openTarget(std::get<TargetSettings>(settings)),
        lane);
}

void PublishEngine::retire(const std::shared_ptr<Target>& target)
{
    target->retired = true;
    target->timer.stop();
    run(target->lane, [session = target->session] {
        session->logOut();
        return [] {};
    });
}

void PublishEngine::addressNoticed()
{
    if (m_mode != Mode::Watch)
        return;
    // Each notice of a burst starts the wait again; the periodic check still comes meanwhile.
    m_noticeTimer.start(kNoticeGathering, [this] {
        m_events.report(events::NoticesGathered{});
        requestCheck(false);
    });
}

void PublishEngine::requestCheck(bool publishAnyway)
{
    if (m_stopping)
        return;
    m_publishAnyway = m_publishAnyway || publishAnyway;
    if (m_checking) {
        m_checkAgain = true;
        return;
    }
    m_checking = true;
    m_checkAgain = false;
    const bool anyway = m_publishAnyway;
    m_publishAnyway = false;
    run(QStringLiteral("address"),
        [this, work = &m_work, settings = m_settings, cancel = m_cancelChecks, anyway] {
            const AddressRound round = work->findAddresses(settings, cancel.get());
            return [this, round, anyway] { takeRound(round, anyway); };
        });
}

namespace {

const FamilyAddress* familyIn(const AddressRound& round, AddressFamily family)
{
    for (const FamilyAddress& found : round.families)
        if (found.family == family)
            return &found;
    return nullptr;
}

QString reasons(const AddressRound& round)
{
    QStringList parts;
    for (const FamilyAddress& found : round.families)
        if (found.address.isEmpty() && !found.reason.isEmpty())
            parts << found.reason;
    return parts.join(QStringLiteral("; "));
}

} // namespace

void PublishEngine::takeRound(const AddressRound& round, bool publishAnyway)
{
    m_checking = false;
    if (m_stopping)
        return;
    m_events.report(events::AddressChecked{round});
    for (const FamilyAddress& found : round.families)
        for (const QString& note : found.notes)
            if (!m_notesSaid.contains(familyName(found.family) + note)) {
                m_notesSaid.insert(familyName(found.family) + note);
                m_events.report(events::AddressNote{found.family, note});
            }
    // The notices that matter are those of the interface the answers came from; families on
    // different interfaces make every interface matter.
    m_watchedInterface.clear();
    bool interfacesDiffer = false;
    for (const FamilyAddress& found : round.families) {
        if (m_watchedInterface.isEmpty())
            m_watchedInterface = found.interfaceName;
        else if (!found.interfaceName.isEmpty() && found.interfaceName != m_watchedInterface)
            interfacesDiffer = true;
    }
    if (interfacesDiffer)
        m_watchedInterface.clear();

    for (const FamilyAddress& found : round.families) {
        QString& said = m_unpublishedReasons[found.family];
        const bool worthSaying =
            found.address.isEmpty() && (round.families.size() > 1 || found.lineNotPublic);
        if (worthSaying && found.reason != said)
            m_events.report(events::FamilyNotPublished{found});
        said = worthSaying ? found.reason : QString();
    }
    if (!round.any()) {
        // The page already published stays online; the next check tries again.
        const QString reason = reasons(round);
        m_events.report(events::AddressNotFound{reason, reason == m_lastFailure});
        m_lastFailure = reason;
        if (m_mode == Mode::Once)
            finish(1);
    } else {
        m_lastFailure.clear();
        bool changed = false;
        for (const FamilyAddress& found : round.families) {
            const FamilyAddress* before = familyIn(m_published, found.family);
            changed = changed || found.address != (before ? before->address : QString());
        }
        if (changed || publishAnyway) {
            if (const auto written = m_work.writeOnlinePage(m_settings, round); !written) {
                // Nothing new is published: the next check tries again, and says it again.
                m_events.report(events::PageNotWritten{written.error()});
                if (m_mode == Mode::Once)
                    return finish(1);
            } else {
                for (const FamilyAddress& found : round.families) {
                    const FamilyAddress* before = familyIn(m_published, found.family);
                    const QString previous = before ? before->address : QString();
                    if (!found.address.isEmpty() && found.address != previous)
                        m_events.report(events::AddressFound{found, previous});
                }
                const QString ipv6Before = m_published.addressOf(AddressFamily::Ipv6);
                m_published = round;
                if (m_ports && round.addressOf(AddressFamily::Ipv6) != ipv6Before)
                    openPinholes();
                m_roundOpen = true;
                for (auto& [name, target] : m_targets) {
                    target->inRound = !target->held;
                    publishTo(target);
                }
                if (m_mode == Mode::Once)
                    finishOnceIfDone();
            }
        }
    }
    if (m_checkAgain)
        requestCheck(false);
}

std::function<void()> PublishEngine::publishLater(const std::shared_ptr<Target>& target)
{
    // Not the target itself: it owns the timer that holds this.
    return [this, target = std::weak_ptr<Target>(target)] {
        if (const auto alive = target.lock())
            publishTo(alive);
    };
}

void PublishEngine::publishTo(const std::shared_ptr<Target>& target)
{
    if (m_stopping || target->held || target->retired)
        return;
    if (target->busy) {
        target->again = true;
        return;
    }
    const auto now = m_platform.now();
    if (m_mode == Mode::Watch && target->lastStart && now < *target->lastStart + kUploadSpacing) {
        // A flapping address: the page waits for the spacing, and it is the newest page then.
        const auto wait =
            std::chrono::duration_cast<milliseconds>(*target->lastStart + kUploadSpacing - now);
        target->timer.start(wait, publishLater(target));
        return;
    }
    target->timer.stop();
    target->lookTimer.stop();
    target->again = false;
    target->busy = true;
    target->lastStart = now;
    target->published = {m_settings.page.file, m_published, false, now};
    m_events.report(events::UploadStarted{target->name()});
    run(target->lane, [this, target, session = target->session, request = target->published] {
        const TargetOutcome outcome = session->publish(request);
        return [this, target, outcome] { takeOutcome(target, outcome); };
    });
}

void PublishEngine::takeOutcome(const std::shared_ptr<Target>& target, const TargetOutcome& outcome)
{
    target->busy = false;
    m_events.report(events::UploadEnded{target->name(), outcome, false});
    if (m_stopping || target->retired)
        return;
    const int before = target->failures;
    target->failures = outcome.ok ? 0 : before + 1;
    target->current = outcome.ok;
    target->check = outcome.check;
    if (outcome.ok && before >= kFailingInARow)
        m_events.report(events::WorksAgain{target->name()});
    if (target->failures == kFailingInARow)
        m_events.report(events::FailingInARow{target->name(), outcome.reason, target->failures});
    if (outcome.ok && outcome.check == TargetOutcome::Check::NotVerified) {
        m_events.report(events::NotVerified{target->name(), outcome.checkNote});
        // `once` says so and ends; watch looks again.
        target->looks = 0;
        if (m_mode == Mode::Watch)
            lookLater(target);
    }
    target->held = outcome.refused() && m_mode == Mode::Watch;
    if (target->held)
        m_events.report(events::TargetHeld{target->name(), outcome});
    target->inRound = false;
    reportStanding();
    if (m_mode == Mode::Once) {
        target->done = true;
        m_failures += outcome.ok && outcome.check != TargetOutcome::Check::NotVerified ? 0 : 1;
        return finishOnceIfDone();
    }
    if (target->held)
        return;
    if (target->again)
        return publishTo(target);
    if (!outcome.ok) {
        const milliseconds delay = std::max<milliseconds>(
            retryDelay(target->failures, m_settings.refreshMinutes), outcome.retryNotBefore);
        m_events.report(events::RetryPlanned{target->name(), delay});
        target->timer.start(delay, publishLater(target));
    } else if (const milliseconds refresh = refreshInterval(m_settings.refreshMinutes);
               refresh.count()) {
        target->timer.start(refresh, publishLater(target));
    }
}

void PublishEngine::lookLater(const std::shared_ptr<Target>& target)
{
    // A cache or a slow copy to the web server may take a while: look after 10 s, then at 60 s.
    const milliseconds wait = target->looks == 0 ? kFirstLook : kLastLook - kFirstLook;
    target->lookTimer.start(wait, [this, weak = std::weak_ptr<Target>(target)] {
        const auto target = weak.lock();
        if (!target || m_stopping || target->retired || target->busy)
            return;
        ++target->looks;
        run(target->lane, [this, target, session = target->session, request = target->published] {
            const TargetOutcome outcome = session->verify(request);
            return [this, target, outcome] { takeLook(target, outcome); };
        });
    });
}

void PublishEngine::takeLook(const std::shared_ptr<Target>& target, const TargetOutcome& outcome)
{
    if (m_stopping || target->retired || target->busy || target->lookTimer.active())
        return; // a newer upload took over
    if (outcome.check == TargetOutcome::Check::Verified) {
        target->check = outcome.check;
        m_events.report(events::VerifiedLater{target->name()});
        reportStanding();
    } else if (target->looks < 2) {
        return lookLater(target);
    } else {
        m_events.report(events::NotVerified{target->name(), outcome.checkNote});
    }
}

void PublishEngine::reportStanding()
{
    int waiting = 0;
    events::RoundEnded standing{m_published, 0, 0, 0, static_cast<int>(m_targets.size()), false};
    for (const auto& [name, target] : m_targets) {
        waiting += target->inRound ? 1 : 0;
        if (!target->current)
            continue;
        ++standing.current;
        standing.checked += target->check != TargetOutcome::Check::None ? 1 : 0;
        standing.verified += target->check == TargetOutcome::Check::Verified ? 1 : 0;
    }
    const bool roundEnded = m_roundOpen && waiting == 0;
    if (waiting > 0)
        return;
    const std::array<int, 4> summary{standing.current, standing.verified, standing.checked,
                                     standing.total};
    if (!roundEnded && summary == m_lastStanding)
        return;
    m_roundOpen = false;
    m_lastStanding = summary;
    standing.first = !m_reportedRound;
    m_reportedRound = true;
    m_events.report(standing);
}

void PublishEngine::keepAlive(milliseconds interval)
{
    m_aliveTimer.start(interval, [this, interval] {
        m_events.report(events::Alive{});
        if (!m_stopping)
            keepAlive(interval);
    });
}

void PublishEngine::finishOnceIfDone()
{
    for (const auto& [name, target] : m_targets)
        if (!target->done)
            return;
    finish(m_failures == 0 ? 0 : 1);
}

void PublishEngine::reload(const std::variant<PublisherSettings, ConfigErrors>& read)
{
    if (m_stopping || m_mode != Mode::Watch)
        return;
    if (const auto* errors = std::get_if<ConfigErrors>(&read)) {
        m_events.report(events::ReloadRefused{errors->messages});
        return;
    }
    m_settings = std::get<PublisherSettings>(read);
    m_events.report(events::Reloaded{m_settings.configFile});

    // A target whose settings did not change keeps its login; a held one is tried again.
    std::map<QString, std::shared_ptr<Target>> old;
    old.swap(m_targets);
    for (const AnyTarget& settings : configuredTargets()) {
        const auto kept = old.find(keyOf(settings));
        if (kept != old.end() && kept->second->settings == settings) {
            kept->second->held = false;
            m_targets[kept->first] = std::move(kept->second);
            old.erase(kept);
        } else {
            addTarget(settings);
        }
    }
    for (auto& [name, target] : old)
        retire(target);

    keepPorts(m_settings.router);
    startCheckTimer();
    requestCheck(true);
}

} // namespace quendle
