#pragma once

#include "cli/hookrunner.h"
#include "service/engineevents.h"
#include "service/engineplatform.h"
#include "service/publishengine.h"
#include "service/publishersettings.h"
#include "service/publisherstate.h"

namespace quendle::cli {

// What watch tells beside its log: the state file that `status` reads, systemd (readiness, the
// status line, the watchdog, stopping), the [hooks] programs and the [notify] messages. Each is
// driven by the engine's events; none holds up publishing.
class WatchServices : public EngineEvents
{
public:
    // `snapshot` tells where the engine's targets stand: the state file and systemd's status
    // line are written from it.
    WatchServices(const PublisherSettings& settings, EnginePlatform& platform,
                  const QString& statePath, std::function<EngineSnapshot()> snapshot);

    // Before the engine takes a new configuration, and after.
    void reloading();
    void reloaded(const PublisherSettings& settings);

    void report(const EngineEvent& event) override;

private:
    void take(const events::AddressFound& event);
    void take(const events::FamilyNotPublished& event);
    void take(const events::FailingInARow& event);
    void take(const events::WorksAgain& event);
    void take(const events::RoundEnded& event);
    void take(const events::AddressNotFound& event);
    void take(const events::PageNotWritten& event);
    void take(const events::PortsNoted& event);
    void take(const events::Stopping& event);
    template <typename Other> void take(const Other&) {}

    // The state's targets as the engine's snapshot has them now.
    void takeSnapshot();
    // The history of the state file before, kept across a restart.
    void keepHistory();
    void becomeReady();
    void notify(const QString& line);
    void writeState();

    PublisherSettings m_settings;
    EnginePlatform& m_platform;
    QString m_statePath;
    std::function<EngineSnapshot()> m_snapshot;
    PublisherState m_state;
    HookRunner m_hooks;
    bool m_ready = false;
    QString m_stateProblem;      // the last one logged
    bool m_writePending = false; // the state file is written when the loop is free again
};

} // namespace quendle::cli
