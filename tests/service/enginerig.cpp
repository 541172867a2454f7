#include "enginerig.h"

namespace quendle::testing {

using std::chrono::milliseconds;

EnginePlatform::TimerId VirtualPlatform::startTimer(milliseconds delay,
                                                    std::function<void()> callback)
{
    m_timers.emplace(m_now + delay, std::make_pair(++m_lastId, std::move(callback)));
    return m_lastId;
}

void VirtualPlatform::cancelTimer(TimerId id)
{
    for (auto timer = m_timers.begin(); timer != m_timers.end(); ++timer)
        if (timer->second.first == id)
            return void(m_timers.erase(timer));
}

void VirtualPlatform::run(const QString& lane, std::function<Continuation()> work)
{
    m_lanes[lane].jobs.push_back(std::move(work));
    startNext(lane);
}

void VirtualPlatform::setDuration(const QString& part, std::optional<milliseconds> duration)
{
    m_durations[part] = duration;
}

void VirtualPlatform::startNext(const QString& name)
{
    Lane& lane = m_lanes[name];
    if (lane.busy || lane.jobs.empty())
        return;
    lane.busy = true;
    const auto job = std::move(lane.jobs.front());
    lane.jobs.pop_front();
    std::optional<milliseconds> duration = milliseconds(10);
    for (const auto& [part, taken] : m_durations)
        if (name.contains(part))
            duration = taken;
    Continuation next = job();
    for (const QString& part : m_holding)
        if (name.contains(part))
            return void(m_held[name] = std::move(next));
    if (!duration)
        return; // the lane never frees again
    startTimer(*duration, [this, name, next] {
        m_lanes[name].busy = false;
        next();
        startNext(name);
    });
}

void VirtualPlatform::hold(const QString& part)
{
    m_holding << part;
}

void VirtualPlatform::release(const QString& part)
{
    m_holding.removeAll(part);
    for (auto held = m_held.begin(); held != m_held.end();) {
        if (!held->first.contains(part)) {
            ++held;
            continue;
        }
        const QString name = held->first;
        const Continuation next = std::move(held->second);
        held = m_held.erase(held);
        m_lanes[name].busy = false;
        next();
        startNext(name);
    }
}

int VirtualPlatform::busyLanes() const
{
    int busy = 0;
    for (const auto& [name, lane] : m_lanes)
        busy += lane.busy ? 1 : 0;
    return busy;
}

void VirtualPlatform::advance(milliseconds span)
{
    const TimePoint end = m_now + span;
    while (!m_timers.empty() && m_timers.begin()->first <= end) {
        auto first = m_timers.begin();
        m_now = first->first;
        const auto callback = std::move(first->second.second);
        m_timers.erase(first);
        callback();
    }
    m_now = end;
}

namespace {

class ScriptedSession : public TargetSession
{
public:
    ScriptedSession(ScriptedWork& work, const EnginePlatform& platform, const QString& name)
        : m_work(work), m_platform(platform), m_name(name)
    {
    }

    TargetOutcome publish(const PublishRequest&) override
    {
        m_work.tries.push_back({m_name, m_work.page, m_platform.now()});
        const bool name = m_work.keepNames.contains(m_name);
        PageOutcome outcome;
        if (!m_loggedIn && !name) {
            ++m_work.logins[m_name];
            m_loggedIn = outcome.loggedIn = true;
        }
        auto& failures = m_work.failures[m_name];
        if (!failures.empty()) {
            const ScriptedFailure failure = failures.front();
            failures.pop_front();
            m_loggedIn = false;
            if (name)
                return nameOutcome(failedRecord(failure));
            outcome.failure = UploadFailure{failure.reason, {}, failure.error};
            return outcome;
        }
        m_work.uploads.push_back({m_name, m_work.page, m_platform.now()});
        if (name) {
            DnsOutcome published;
            published.status = DnsOutcome::Status::Published;
            published.sent = true;
            return nameOutcome(published);
        }
        return look(outcome);
    }
    TargetOutcome verify(const PublishRequest&) override { return look({}); }
    static NameOutcome nameOutcome(const DnsOutcome& record)
    {
        NameOutcome outcome;
        outcome.records << record;
        return outcome;
    }
    static DnsOutcome failedRecord(const ScriptedFailure& failure)
    {
        DnsOutcome record;
        record.status = failure.error == TransferError::LoginRefused
                            ? DnsOutcome::Status::HeldUntilReload
                        : failure.retryNotBefore.count() ? DnsOutcome::Status::RetryLater
                                                         : DnsOutcome::Status::Failed;
        record.reason = failure.reason;
        record.retryNotBefore = int(failure.retryNotBefore.count());
        return record;
    }
    bool takesOfflinePage() const override { return !m_work.keepNames.contains(m_name); }
    QString batchKey() const override
    {
        return m_work.keepNames.contains(m_name) ? m_work.nameBatchKey : QString();
    }
    std::vector<TargetOutcome> publishTogether(const std::vector<TargetSession*>& all,
                                               const PublishRequest& request) override
    {
        QStringList names;
        for (TargetSession* session : all)
            names << static_cast<ScriptedSession*>(session)->m_name;
        m_work.together.push_back(names);
        return TargetSession::publishTogether(all, request);
    }
    PageOutcome look(PageOutcome outcome)
    {
        auto& looks = m_work.looks[m_name];
        if (!looks.empty()) {
            outcome.check = looks.front();
            outcome.checkNote = QStringLiteral("still links to 81.2.69.1");
            looks.pop_front();
        }
        return outcome;
    }
    void logOut() override
    {
        m_loggedIn = false;
        ++m_work.logouts[m_name];
    }

private:
    ScriptedWork& m_work;
    const EnginePlatform& m_platform;
    QString m_name;
    bool m_loggedIn = false;
};

class ScriptedPorts : public PortKeeper
{
public:
    explicit ScriptedPorts(QStringList& calls) : m_calls(calls) {}
    QList<router::MappingNote> keep() override { return note(QStringLiteral("keep")); }
    void setIpv6Address(const QString& address) override
    {
        m_calls << QStringLiteral("pinholes to ") + address;
    }
    QList<router::MappingNote> removeAll() override { return note(QStringLiteral("removeAll")); }

private:
    QList<router::MappingNote> note(const QString& call)
    {
        m_calls << call;
        return {{router::MappingNote::Level::Info, call}};
    }
    QStringList& m_calls;
};

} // namespace

std::vector<ScriptedWork::Upload> ScriptedWork::uploadsTo(const QString& target) const
{
    std::vector<Upload> found;
    for (const Upload& upload : uploads)
        if (upload.target == target)
            found.push_back(upload);
    return found;
}

AddressRound ScriptedWork::findAddresses(const PublisherSettings& settings,
                                         const std::atomic<bool>*)
{
    AddressRound round;
    for (const AddressFamily family : settings.address.families) {
        FamilyAddress found;
        found.family = family;
        found.address = family == AddressFamily::Ipv4 ? address : ipv6;
        found.source = QStringLiteral("web");
        if (found.address.isEmpty())
            found.reason = QStringLiteral("web: no %1 answer").arg(familyName(family));
        round.families << found;
    }
    return round;
}

std::shared_ptr<TargetSession> ScriptedWork::openTarget(const TargetSettings& settings)
{
    return std::make_shared<ScriptedSession>(*this, m_platform, settings.name);
}

std::shared_ptr<TargetSession> ScriptedWork::openName(const DnsTargetSettings& settings)
{
    keepNames << settings.name;
    return std::make_shared<ScriptedSession>(*this, m_platform, settings.name);
}

std::shared_ptr<PortKeeper> ScriptedWork::openPortKeeper(const router::RouterOptions&)
{
    return std::make_shared<ScriptedPorts>(portCalls);
}

Expected<void> ScriptedWork::writeOnlinePage(const PublisherSettings&,
                                             const AddressRound& published)
{
    if (!pageWritable)
        return Unexpected(QStringLiteral("no room for the page"));
    QStringList addresses;
    for (const FamilyAddress& found : published.families)
        if (!found.address.isEmpty())
            addresses << found.address;
    page = "online " + addresses.join(' ').toLatin1();
    return {};
}

Expected<void> ScriptedWork::writeOfflinePage(const PublisherSettings&)
{
    if (!pageWritable)
        return Unexpected(QStringLiteral("no room for the page"));
    page = "offline";
    return {};
}

ScriptedFailure failedWith(TransferError error, const QString& reason)
{
    return {error, reason};
}

} // namespace quendle::testing
