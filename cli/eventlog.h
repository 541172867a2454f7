#pragma once

#include "service/engineevents.h"

#include <functional>

namespace quendle::cli {

// The engine's events as the publisher's log lines. The words differ a little between the
// commands: `once` names every source that failed, `watch` only with --verbose.
class EventLog : public EngineEvents
{
public:
    enum class Command { Watch, Once, Offline };

    // `stopped` gets the exit status once the engine is done.
    EventLog(Command command, std::function<void(int exitStatus)> stopped);
    void report(const EngineEvent& event) override;

private:
    void log(const events::AddressChecked& event);
    void log(const events::AddressFound& event);
    void log(const events::FamilyNotPublished& event);
    void log(const events::AddressNotFound& event);
    // "IPv6 " before the lines of a family when the round has two.
    QString prefix(AddressFamily family) const;
    void log(const events::NoticesGathered& event);
    void log(const events::PageNotWritten& event);
    void log(const events::TargetChanged& event);
    void log(const events::WorkEnded& event);
    void logName(const QString& target, const NameOutcome& name);
    void log(const events::OfflineSkipped& event);
    void log(const events::FailingInARow& event);
    void log(const events::WorksAgain& event);
    void log(const events::AddressNote& event);
    void log(const events::RoundEnded& event);
    void log(const events::Alive& event);
    void log(const events::PortsNoted& event);
    void log(const events::Reloaded& event);
    void log(const events::ReloadRefused& event);
    void log(const events::Stopping& event);
    void log(const events::Stopped& event);

    Command m_command;
    qsizetype m_families = 1; // in the last round
    std::function<void(int)> m_stopped;
};

// What to do about a login the server refused, for people.
QString whatToDoAboutRefusal(TransferError error);

} // namespace quendle::cli
