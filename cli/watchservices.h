#pragma once

#include "cli/hookrunner.h"
#include "service/engineevents.h"
#include "service/engineplatform.h"
#include "service/publishersettings.h"
#include "service/publisherstate.h"

namespace quendle::cli {

// What watch tells beside its log: the state file that `status` reads, systemd (readiness, the
// status line, the watchdog, stopping), the [hooks] programs and the [notify] messages. Each is
// driven by the engine's events; none holds up publishing.
class WatchServices : public EngineEvents
{
public:
    WatchServices(const PublisherSettings& settings, EnginePlatform& platform,
                  const QString& statePath);

    // Before the engine takes a new configuration, and after.
    void reloading();
    void reloaded(const PublisherSettings& settings);

    void report(const EngineEvent& event) override;

private:
    void take(const events::AddressFound& event);
    void take(const events::FamilyNotPublished& event);
    void take(const events::UploadStarted& event);
    void take(const events::UploadEnded& event);
    void take(const events::RetryPlanned& event);
    void take(const events::TargetHeld& event);
    void take(const events::FailingInARow& event);
    void take(const events::WorksAgain& event);
    void take(const events::NotVerified& event);
    void take(const events::VerifiedLater& event);
    void take(const events::RoundEnded& event);
    void take(const events::AddressNotFound& event);
    void take(const events::PageNotWritten& event);
    void take(const events::PortsNoted& event);
    void take(const events::Stopping& event);
    void take(const events::Alive& event);
    template <typename Other> void take(const Other&) {}

    void keepHistory();
    PublisherState::Target& target(const QString& name);
    void becomeReady();
    void notify(const QString& line);
    void writeState();

    PublisherSettings m_settings;
    EnginePlatform& m_platform;
    QString m_statePath;
    PublisherState m_state;
    PublisherState::Target m_gone; // what is said of a target no longer configured
    HookRunner m_hooks;
    bool m_ready = false;
    QString m_stateProblem; // the last one logged
};

} // namespace quendle::cli
