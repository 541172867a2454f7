#pragma once

#include "address/router/portmapper.h"
#include "service/addresslookup.h"
#include "service/targetoutcome.h"
#include "service/targetstanding.h"

#include <chrono>
#include <optional>
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
// A target's standing changed, or its reason did: from the engine's one transition function.
struct TargetChanged
{
    TargetId target;
    Standing before = Standing::Pending;
    Standing after = Standing::Pending;
    QString reason;
    std::optional<std::chrono::milliseconds> nextTryIn; // for Failed: when it is tried again
    std::optional<TargetOutcome> cause;                 // the outcome that brought the change
    bool offline = false;                               // the way out's offline page
};
// A try ended, of the online page or (`offline`) of the offline page on the way out: what it did,
// for the log.
struct WorkEnded
{
    TargetId target;
    TargetOutcome outcome;
    bool offline = false;
};
// A held target was not sent the offline page.
struct OfflineSkipped
{
    TargetId target;
};
// A target failed this many times in a row: three, said once a streak.
struct FailingInARow
{
    TargetId target;
    QString reason;
    int failures = 0;
};
// A target that was failing in a row took the page again.
struct WorksAgain
{
    TargetId target;
};
// Something about the addresses worth saying once (another NAT in the way, a temporary address
// replaced by a stable one).
struct AddressNote
{
    AddressFamily family;
    QString text;
};
// Where the targets stand after a round of uploads, and again whenever the counts change.
struct RoundEnded
{
    AddressRound published;
    StandingCounts counts;
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
    QList<TargetId> unfinished;
};

} // namespace quendle::events

namespace quendle {

using EngineEvent =
    std::variant<events::AddressChecked, events::AddressFound, events::FamilyNotPublished,
                 events::AddressNotFound, events::NoticesGathered, events::PageNotWritten,
                 events::TargetChanged, events::WorkEnded, events::OfflineSkipped,
                 events::FailingInARow, events::WorksAgain, events::AddressNote, events::RoundEnded,
                 events::Alive, events::PortsNoted, events::Reloaded, events::ReloadRefused,
                 events::Stopping, events::Stopped>;

class EngineEvents
{
public:
    virtual ~EngineEvents() = default;
    virtual void report(const EngineEvent& event) = 0;
};

} // namespace quendle
