#pragma once

#include "service/configreader.h"
#include "service/engineevents.h"
#include "service/engineplatform.h"
#include "service/enginework.h"
#include "service/targetstanding.h"

#include <QSet>

#include <atomic>
#include <map>
#include <memory>
#include <optional>

namespace quendle {

// Where every target stands, as the state file and systemd's status line are written from.
struct EngineSnapshot
{
    AddressRound published;        // what the page links to, or is about to
    QList<TargetStanding> targets; // in the order of the configuration

    StandingCounts counts() const { return StandingCounts::of(targets); }
    // "203.0.113.7: 2 of 2 pages, 1 of 1 names current"
    QString summary() const;
};

// Every decision of the publisher: when to ask the sources, how the kernel's notices of a burst
// of changes are gathered, when each target gets the page, when a failed one is tried again, what
// a reload keeps, the port mappings' upkeep and the order of the way out. It is given its time,
// timers and workers (EnginePlatform), its reach into the world (EngineWork), and tells what
// happens as events (EngineEvents). It never logs, reads the configuration file or sees a signal.
class PublishEngine
{
public:
    // Ask the sources again this long after the last notice of a burst: one change brings several
    // (the old address goes, the new one comes).
    static constexpr std::chrono::milliseconds kNoticeGathering{150};
    // Two uploads to one target start at least this far apart, the newer page always going up.
    static constexpr std::chrono::milliseconds kUploadSpacing{1000};
    // The way out ends within this, even when a server does not answer: past the transfer's own
    // bound of 60 s for a whole upload.
    static constexpr std::chrono::milliseconds kStopBound{65000};
    // A page not yet seen where visitors look is looked at again this long after its upload.
    static constexpr std::chrono::milliseconds kFirstLook{10000};
    static constexpr std::chrono::milliseconds kLastLook{60000};
    // A target that failed this many times in a row is reported (hooks, notifications).
    static constexpr int kFailingInARow = 3;

    PublishEngine(const PublisherSettings& settings, EnginePlatform& platform, EngineWork& work,
                  EngineEvents& events);
    ~PublishEngine();
    PublishEngine(const PublishEngine&) = delete;
    PublishEngine& operator=(const PublishEngine&) = delete;

    // Keeps every target current until stop(): `watch`.
    void watch();
    // One round: the address, the page, every target once; then Stopped. `once`.
    void publishOnce();
    // The offline page to every target, the port mappings removed; then Stopped. Ends watch, or
    // runs on its own for `offline`. Later calls change nothing.
    void stop(const QString& why);

    // Reports Alive every `interval` from the engine's own loop, for a watchdog.
    void keepAlive(std::chrono::milliseconds interval);

    // The kernel noticed a change that may concern watchedInterface().
    void addressNoticed();
    // The interface whose notices matter; empty: every one.
    QString watchedInterface() const { return m_watchedInterface; }
    // The configuration read again, or why it could not be: the running settings stay then.
    void reload(const std::variant<PublisherSettings, ConfigErrors>& read);

    const PublisherSettings& settings() const { return m_settings; }
    bool stopping() const { return m_mode == Mode::Stop; }
    // Where every configured target stands now.
    EngineSnapshot snapshot() const;

private:
    struct Target;
    enum class Mode { Idle, Watch, Once, Stop };
    using AnyTarget = std::variant<TargetSettings, DnsTargetSettings>;
    // What comes with a change of standing besides the new standing itself.
    struct Change
    {
        QString reason;
        std::optional<std::chrono::milliseconds> nextTryIn;
        std::optional<TargetOutcome> cause;
        bool offline = false;
    };

    QList<AnyTarget> configuredTargets() const;
    static TargetId idOf(const AnyTarget& settings);
    // The one place a target's standing changes: says so with TargetChanged.
    void change(Target& target, Standing to, Change detail);
    void change(Target& target, Standing to);
    void addTargets();
    void addTarget(const AnyTarget& settings);
    void retire(const std::shared_ptr<Target>& target);
    void requestCheck(bool publishAnyway);
    void takeRound(const AddressRound& round, bool publishAnyway);
    void publishTo(const std::shared_ptr<Target>& target);
    // Starts the work of the targets that wait to publish together, one job a batch key.
    void flushBatches();
    std::function<void()> publishLater(const std::shared_ptr<Target>& target);
    void takeOutcome(const std::shared_ptr<Target>& target, const TargetOutcome& outcome);
    void lookLater(const std::shared_ptr<Target>& target);
    void takeLook(const std::shared_ptr<Target>& target, const TargetOutcome& outcome);
    void reportStanding();
    void startCheckTimer();
    void keepPorts(const router::RouterOptions& options);
    void lookAfterPorts();
    void openPinholes();
    void stopTaskDone();
    void finishOnceIfDone();
    void finish(int exitStatus, const QList<TargetId>& unfinished = {});
    std::chrono::milliseconds checkInterval() const;
    // Runs `work` on `lane`; its continuation is dropped once this engine is gone.
    void run(const QString& lane, std::function<EnginePlatform::Continuation()> work);

    PublisherSettings m_settings;
    EnginePlatform& m_platform;
    EngineWork& m_work;
    EngineEvents& m_events;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    Mode m_mode = Mode::Idle;

    std::map<TargetId, std::shared_ptr<Target>> m_targets;

    std::shared_ptr<std::atomic<bool>> m_cancelChecks = std::make_shared<std::atomic<bool>>(false);
    bool m_checking = false;
    bool m_checkAgain = false;
    bool m_publishAnyway = false;
    AddressRound m_published; // what the page links to, or is about to
    QString m_watchedInterface;
    QString m_lastFailure;
    QSet<QString> m_notesSaid;
    std::map<AddressFamily, QString> m_unpublishedReasons; // the last said, per family
    bool m_roundOpen = false;     // a round of uploads waits for some targets
    bool m_reportedRound = false; // the first round has ended
    std::optional<StandingCounts> m_lastCounts;
    EngineTimer m_checkTimer;
    EngineTimer m_noticeTimer;
    EngineTimer m_batchTimer;

    router::RouterOptions m_portOptions;
    std::shared_ptr<PortKeeper> m_ports;
    bool m_portsBusy = false;
    EngineTimer m_portTimer;
    EngineTimer m_aliveTimer;

    int m_stopPending = 0;
    bool m_offlinePageFailed = false; // the offline page file could not be written
    EngineTimer m_stopBound;
    bool m_finished = false;
};

} // namespace quendle
