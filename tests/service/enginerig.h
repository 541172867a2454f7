#pragma once

#include "service/engineevents.h"
#include "service/engineplatform.h"
#include "service/enginework.h"

#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace quendle::testing {

// Time that passes only when the test says, and workers whose jobs take as long as the test says.
class VirtualPlatform : public EnginePlatform
{
public:
    TimePoint now() const override { return m_now; }
    TimerId startTimer(std::chrono::milliseconds delay, std::function<void()> callback) override;
    void cancelTimer(TimerId id) override;
    void run(const QString& lane, std::function<Continuation()> work) override;

    // How long each job of the lanes whose name contains `part` takes; nullopt: it never ends.
    void setDuration(const QString& part, std::optional<std::chrono::milliseconds> duration);
    // Lets `span` pass, firing every timer and ending every job due meanwhile, in order.
    void advance(std::chrono::milliseconds span);
    // The jobs of the lanes whose name contains `part` stay open, once started, until release():
    // what happens while an upload is under way can then be written down step by step.
    void hold(const QString& part);
    // Ends every job held open on those lanes now, and holds no more.
    void release(const QString& part);
    // Lanes whose job is open (held or running) now.
    int busyLanes() const;

private:
    struct Lane
    {
        std::deque<std::function<Continuation()>> jobs;
        bool busy = false;
    };
    void startNext(const QString& lane);

    TimePoint m_now{};
    TimerId m_lastId = 0;
    std::multimap<TimePoint, std::pair<TimerId, std::function<void()>>> m_timers;
    std::map<QString, Lane> m_lanes;
    std::map<QString, std::optional<std::chrono::milliseconds>> m_durations;
    QStringList m_holding;
    std::map<QString, Continuation> m_held; // by lane
};

// The world as a script: sources answer `address`, servers take pages (or fail as scripted), and
// everything that reached them is recorded.
// How a scripted try fails: a page's upload failure, or for a name a record that failed so (a
// refusal holds it, a pause asks for one).
struct ScriptedFailure
{
    TransferError error = TransferError::TimedOut;
    QString reason;
    std::chrono::seconds retryNotBefore{0};
};

class ScriptedWork : public EngineWork
{
public:
    explicit ScriptedWork(const EnginePlatform& platform) : m_platform(platform) {}

    struct Upload
    {
        QString target;
        QByteArray page;
        EnginePlatform::TimePoint at;
    };

    QString address = QStringLiteral("81.2.69.160"); // empty: no source answers
    QString ipv6;                                    // when IPv6 is configured too
    QByteArray page;                                 // the page file: "online ADDRESS", "offline"
    bool pageWritable = true;
    std::vector<Upload> uploads; // the pages that went up
    std::vector<Upload> tries;   // every publish asked of a session, failed ones too
    std::map<QString, int> logins;
    std::map<QString, int> logouts;
    std::map<QString, std::deque<ScriptedFailure>> failures; // the next tries of a target fail so
    QStringList portCalls;
    // What the read-back finds after each upload and each later look; none: nothing checked.
    std::map<QString, std::deque<PageOutcome::Check>> looks;
    QStringList keepNames; // targets that keep a name, not a page: no offline page
    QString nameBatchKey;  // names of this batch key publish together; empty: one by one
    std::vector<QStringList> together; // the targets of each publishTogether()

    std::vector<Upload> uploadsTo(const QString& target) const;

    AddressRound findAddresses(const PublisherSettings& settings,
                               const std::atomic<bool>* cancel) override;
    std::shared_ptr<TargetSession> openTarget(const TargetSettings& settings) override;
    std::shared_ptr<TargetSession> openName(const DnsTargetSettings& settings) override;
    std::shared_ptr<PortKeeper> openPortKeeper(const router::RouterOptions& options) override;
    Expected<void> writeOnlinePage(const PublisherSettings& settings,
                                   const AddressRound& published) override;
    Expected<void> writeOfflinePage(const PublisherSettings& settings) override;

private:
    const EnginePlatform& m_platform;
};

class RecordedEvents : public EngineEvents
{
public:
    void report(const EngineEvent& event) override
    {
        all.push_back(event);
        at.push_back(clock ? clock->now() : EnginePlatform::TimePoint{});
    }

    template <typename Event> std::vector<Event> of() const
    {
        std::vector<Event> found;
        for (const EngineEvent& event : all)
            if (const auto* particular = std::get_if<Event>(&event))
                found.push_back(*particular);
        return found;
    }

    std::vector<EngineEvent> all;
    std::vector<EnginePlatform::TimePoint> at; // when each came, once `clock` is set
    const EnginePlatform* clock = nullptr;
};

ScriptedFailure failedWith(TransferError error, const QString& reason = QStringLiteral("failed"));

} // namespace quendle::testing
