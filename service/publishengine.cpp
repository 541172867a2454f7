#include "service/publishengine.h"

#include "service/enginetarget.h"
#include "service/retryschedule.h"

#include <algorithm>
#include <vector>

namespace quendle {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

PublishEngine::PublishEngine(const PublisherSettings& settings, EnginePlatform& platform,
                             EngineWork& work, EngineEvents& events)
    : m_settings(settings), m_platform(platform), m_work(work), m_events(events),
      m_checkTimer(platform), m_noticeTimer(platform), m_batchTimer(platform),
      m_portTimer(platform), m_aliveTimer(platform), m_stopBound(platform)
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

TargetId PublishEngine::idOf(const AnyTarget& settings)
{
    // A page and a DNS name may share a name: each kind is a target of its own.
    if (const auto* name = std::get_if<DnsTargetSettings>(&settings))
        return {TargetKind::Name, name->name};
    return {TargetKind::Page, std::get<TargetSettings>(settings).name};
}

QString EngineSnapshot::summary() const
{
    return standingSummary(published.addresses(), counts());
}

EngineSnapshot PublishEngine::snapshot() const
{
    EngineSnapshot taken{m_published, {}};
    for (const AnyTarget& settings : configuredTargets())
        if (const auto found = m_targets.find(idOf(settings)); found != m_targets.end())
            taken.targets << found->second->standing;
    return taken;
}

void PublishEngine::change(Target& target, Standing to)
{
    change(target, to, Change{});
}

void PublishEngine::change(Target& target, Standing to, Change detail)
{
    TargetStanding& standing = target.standing;
    const Standing before = standing.standing;
    if (before == to && standing.reason == detail.reason && !detail.nextTryIn)
        return;
    const auto now = m_platform.now();
    standing.standing = to;
    standing.reason = detail.reason;
    standing.nextTry = detail.nextTryIn ? std::optional(now + *detail.nextTryIn) : std::nullopt;
    if (to == Standing::Working)
        standing.lastAttempt = now;
    m_events.report(events::TargetChanged{standing.id, before, to, detail.reason, detail.nextTryIn,
                                          std::move(detail.cause), detail.offline});
}

void PublishEngine::addTargets()
{
    for (const AnyTarget& target : configuredTargets())
        addTarget(target);
}

void PublishEngine::addTarget(const AnyTarget& settings)
{
    // One lane a target: its work stays in order, and a replaced one logs out before its
    // successor's first upload.
    // Names that publish together share their batch's lane.
    const TargetId id = idOf(settings);
    const auto* name = std::get_if<DnsTargetSettings>(&settings);
    std::shared_ptr<TargetSession> session =
        name ? m_work.openName(*name) : m_work.openTarget(std::get<TargetSettings>(settings));
    const QString batch = session->batchKey();
    const QString lane = batch.isEmpty() ? id.text() : QStringLiteral("batch ") + batch;
    m_targets[id] = std::make_shared<Target>(m_platform, id, settings, std::move(session), lane);
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
    if (stopping())
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
    if (stopping())
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
                for (auto& [id, target] : m_targets) {
                    target->inRound = target->standing.standing != Standing::Held;
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
    if (stopping() || target->standing.standing == Standing::Held || target->retired ||
        target->waitingForBatch)
        return;
    if (target->busy()) {
        target->again = true;
        return;
    }
    const auto now = m_platform.now();
    const auto& lastStart = target->standing.lastAttempt;
    if (m_mode == Mode::Watch && lastStart && now < *lastStart + kUploadSpacing) {
        // A flapping address: the page waits for the spacing, and it is the newest page then.
        const auto wait =
            std::chrono::duration_cast<milliseconds>(*lastStart + kUploadSpacing - now);
        target->timer.start(wait, publishLater(target));
        return;
    }
    target->timer.stop();
    target->lookTimer.stop();
    target->again = false;
    if (!target->session->batchKey().isEmpty()) {
        // Gathered until the engine's thread is free again, so that a round goes together.
        target->waitingForBatch = true;
        if (!m_batchTimer.active())
            m_batchTimer.start(0ms, [this] { flushBatches(); });
        return;
    }
    target->published = {m_settings.page.file, m_published, false, now};
    change(*target, Standing::Working);
    run(target->lane, [this, target, session = target->session, request = target->published] {
        const TargetOutcome outcome = session->publish(request);
        return [this, target, outcome] { takeOutcome(target, outcome); };
    });
}

void PublishEngine::flushBatches()
{
    std::map<QString, std::vector<std::shared_ptr<Target>>> batches;
    for (auto& [id, target] : m_targets) {
        if (!target->waitingForBatch)
            continue;
        target->waitingForBatch = false;
        if (!stopping() && target->standing.standing != Standing::Held)
            batches[target->session->batchKey()].push_back(target);
    }
    for (const auto& batch : batches) {
        // A variable of its own, not a structured binding: the jobs below capture it.
        const std::vector<std::shared_ptr<Target>> targets = batch.second;
        const PublishRequest request{m_settings.page.file, m_published, false, m_platform.now()};
        std::vector<std::shared_ptr<TargetSession>> sessions;
        for (const std::shared_ptr<Target>& target : targets) {
            target->published = request;
            change(*target, Standing::Working);
            sessions.push_back(target->session);
        }
        run(targets.front()->lane, [this, targets, sessions, request] {
            std::vector<TargetSession*> all;
            for (const auto& session : sessions)
                all.push_back(session.get());
            const std::vector<TargetOutcome> outcomes =
                sessions.front()->publishTogether(all, request);
            return [this, targets, outcomes] {
                for (std::size_t i = 0; i < targets.size() && i < outcomes.size(); ++i)
                    takeOutcome(targets[i], outcomes[i]);
            };
        });
    }
}

void PublishEngine::takeOutcome(const std::shared_ptr<Target>& target, const TargetOutcome& outcome)
{
    m_events.report(events::WorkEnded{target->id(), outcome, false});
    // A retired target is no more. On the way out a page's offline page follows on the same
    // lane; a name keeps what its last exchange found.
    if (target->retired)
        return;
    if (stopping()) {
        if (!target->session->takesOfflinePage())
            change(*target, outcome.ok() ? Standing::Current : Standing::Failed,
                   {outcome.reason(), {}, outcome});
        return;
    }
    const int before = target->failuresInARow;
    target->failuresInARow = outcome.ok() ? 0 : before + 1;
    if (outcome.ok() && before >= kFailingInARow)
        m_events.report(events::WorksAgain{target->id()});
    if (target->failuresInARow == kFailingInARow)
        m_events.report(
            events::FailingInARow{target->id(), outcome.reason(), target->failuresInARow});
    target->inRound = false;
    const bool unseen = outcome.unseen();

    if (m_mode == Mode::Once) {
        // One try each: a refused login is a failure like another, and nobody looks again.
        change(*target,
               outcome.ok() ? (unseen ? Standing::Unverified : Standing::Current)
                            : Standing::Failed,
               {outcome.reason(), {}, outcome});
        reportStanding();
        return finishOnceIfDone();
    }
    if (!outcome.ok() && outcome.refused()) {
        change(*target, Standing::Held, {outcome.reason(), {}, outcome});
        return reportStanding();
    }
    if (outcome.ok()) {
        change(*target, unseen ? Standing::Unverified : Standing::Current,
               {outcome.reason(), {}, outcome});
        if (unseen) {
            target->looks = 0;
            lookLater(target);
        }
        if (target->again)
            publishTo(target);
        else if (const milliseconds refresh = refreshInterval(m_settings.refreshMinutes);
                 refresh.count())
            target->timer.start(refresh, publishLater(target));
    } else if (target->again) {
        // A newer page waits: it goes now (or when the spacing allows), not after the back-off.
        change(*target, Standing::Failed, {outcome.reason(), {}, outcome});
        publishTo(target);
    } else {
        const milliseconds delay =
            std::max<milliseconds>(retryDelay(target->failuresInARow, m_settings.refreshMinutes),
                                   outcome.retryNotBefore());
        change(*target, Standing::Failed, {outcome.reason(), delay, outcome});
        target->timer.start(delay, publishLater(target));
    }
    reportStanding();
}

void PublishEngine::lookLater(const std::shared_ptr<Target>& target)
{
    // A cache or a slow copy to the web server may take a while: look after 10 s, then at 60 s.
    const milliseconds wait = target->looks == 0 ? kFirstLook : kLastLook - kFirstLook;
    target->lookTimer.start(wait, [this, weak = std::weak_ptr<Target>(target)] {
        const auto target = weak.lock();
        if (!target || stopping() || target->retired || target->busy())
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
    if (stopping() || target->retired || target->standing.standing != Standing::Unverified ||
        target->lookTimer.active())
        return; // a newer upload took over
    if (outcome.seen()) {
        change(*target, Standing::Current, {{}, {}, outcome});
        reportStanding();
    } else if (target->looks < 2) {
        lookLater(target);
    } else {
        change(*target, Standing::Unverified, {outcome.reason(), {}, outcome});
    }
}

void PublishEngine::reportStanding()
{
    for (const auto& [id, target] : m_targets)
        if (target->inRound)
            return;
    const EngineSnapshot now = snapshot();
    const StandingCounts counts = now.counts();
    if (!m_roundOpen && m_lastCounts == counts)
        return;
    m_roundOpen = false;
    m_lastCounts = counts;
    m_events.report(events::RoundEnded{m_published, counts, !m_reportedRound});
    m_reportedRound = true;
}

void PublishEngine::keepAlive(milliseconds interval)
{
    m_aliveTimer.start(interval, [this, interval] {
        m_events.report(events::Alive{});
        if (!stopping())
            keepAlive(interval);
    });
}

void PublishEngine::finishOnceIfDone()
{
    for (const auto& [id, target] : m_targets)
        if (target->inRound || target->busy())
            return;
    finish(snapshot().counts().allCurrent() ? 0 : 1);
}

void PublishEngine::reload(const std::variant<PublisherSettings, ConfigErrors>& read)
{
    if (m_mode != Mode::Watch)
        return;
    if (const auto* errors = std::get_if<ConfigErrors>(&read)) {
        m_events.report(events::ReloadRefused{errors->messages});
        return;
    }
    m_settings = std::get<PublisherSettings>(read);
    m_events.report(events::Reloaded{m_settings.configFile});

    // A target whose settings did not change keeps its login; a held one is tried again.
    std::map<TargetId, std::shared_ptr<Target>> old;
    old.swap(m_targets);
    for (const AnyTarget& settings : configuredTargets()) {
        const auto kept = old.find(idOf(settings));
        if (kept != old.end() && kept->second->settings == settings) {
            if (kept->second->standing.standing == Standing::Held)
                change(*kept->second, Standing::Pending);
            m_targets[kept->first] = std::move(kept->second);
            old.erase(kept);
        } else {
            addTarget(settings);
        }
    }
    for (auto& [id, target] : old)
        retire(target);

    keepPorts(m_settings.router);
    startCheckTimer();
    requestCheck(true);
}

} // namespace quendle
