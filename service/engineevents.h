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
// A family has nothing to publish while another has, or the line itself has no public address of
// it: said when the reason changes.
struct FamilyNotPublished
{
    FamilyAddress found;
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
// A target failed this many times in a row: three, said once a streak.
struct FailingInARow
{
    QString target;
    QString reason;
    int failures = 0;
};
// A target that was failing in a row took the page again.
struct WorksAgain
{
    QString target;
};
// The page went up, but the address visitors use still shows something else (`note`); the engine
// looks again later.
struct NotVerified
{
    QString target;
    QString note;
};
// A later look found the page that was published.
struct VerifiedLater
{
    QString target;
};
// Something about the addresses worth saying once (another NAT in the way, a temporary address
// replaced by a stable one).
struct AddressNote
{
    AddressFamily family;
    QString text;
};
// Where the targets stand after a round of uploads, and again whenever that changes.
struct RoundEnded
{
    AddressRound published;
    int current = 0;  // targets whose last upload worked
    int verified = 0; // of those, the ones whose page was checked and found
    int checked = 0;  // of those, the ones that check their page at all
    int total = 0;
    bool first = false; // the first round since the start
};
// The engine's loop is alive (for a watchdog); comes every keepAlive() interval.
struct Alive
{
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
    std::variant<events::AddressChecked, events::AddressFound, events::FamilyNotPublished,
                 events::AddressNotFound, events::NoticesGathered, events::PageNotWritten,
                 events::UploadStarted, events::UploadEnded, events::RetryPlanned,
                 events::TargetHeld, events::OfflineSkipped, events::FailingInARow,
                 events::WorksAgain, events::NotVerified, events::VerifiedLater,
                 events::AddressNote, events::RoundEnded, events::Alive, events::PortsNoted,
                 events::Reloaded, events::ReloadRefused, events::Stopping, events::Stopped>;

class EngineEvents
{
public:
    virtual ~EngineEvents() = default;
    virtual void report(const EngineEvent& event) = 0;
};

} // namespace quendle
