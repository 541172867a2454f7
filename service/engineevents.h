#pragma once

#include "address/router/portmapper.h"
#include "service/addresslookup.h"
#include "service/targetpublisher.h"

#include <chrono>
#include <variant>

// What the publishing engine reports. The front end turns each into log lines (and later status
// files and notifications); the engine itself never logs.
namespace quendle::events {

// A round of asking the sources ended; `round` says what each source answered.
struct AddressChecked
{
    AddressRound round;
};
// A family's address to publish, the first one found (`previous` empty) or a new one.
struct AddressFound
{
    FamilyAddress found;
    QString previous;
};
// No family has an address; the page already published stays. `again`: the same reasons as the
// round before.
struct AddressNotFound
{
    QString reason;
    bool again = false;
};
// The kernel's notices of an address change were gathered and a check starts.
struct NoticesGathered
{
};
struct PageNotWritten
{
    QString reason;
};
struct UploadStarted
{
    QString target;
};
// An upload ended, of the online page or (`offline`) of the offline page on the way out.
struct UploadEnded
{
    QString target;
    TargetOutcome outcome;
    bool offline = false;
};
struct RetryPlanned
{
    QString target;
    std::chrono::milliseconds delay;
};
// The server refused the login: the target is not tried again until the configuration is
// reloaded, so that a wrong password does not lock the account.
struct TargetHeld
{
    QString target;
    TargetOutcome outcome;
};
// A held target was not sent the offline page.
struct OfflineSkipped
{
    QString target;
};
struct PortsNoted
{
    QList<router::MappingNote> notes;
};
struct Reloaded
{
    QString configFile;
};
struct ReloadRefused
{
    QStringList problems;
};
struct Stopping
{
    QString why;
};
// The engine is done; `unfinished` names the targets whose offline upload did not end within the
// bound.
struct Stopped
{
    int exitStatus = 0;
    QStringList unfinished;
};

} // namespace quendle::events

namespace quendle {

using EngineEvent =
    std::variant<events::AddressChecked, events::AddressFound, events::AddressNotFound,
                 events::NoticesGathered, events::PageNotWritten, events::UploadStarted,
                 events::UploadEnded, events::RetryPlanned, events::TargetHeld,
                 events::OfflineSkipped, events::PortsNoted, events::Reloaded,
                 events::ReloadRefused, events::Stopping, events::Stopped>;

class EngineEvents
{
public:
    virtual ~EngineEvents() = default;
    virtual void report(const EngineEvent& event) = 0;
};

} // namespace quendle
