#pragma once

#include "service/targetstanding.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

namespace quendle {

// What `watch` is doing, as `status` shows it. Watch replaces the state file after each event;
// times are UTC, an invalid QDateTime where there is none.
struct PublisherState
{
    struct Family
    {
        QString family;  // "ipv4" or "ipv6"
        QString address; // empty: none found yet
        QString source;  // the source that gave it: "interface", "web", "router"...
        QDateTime since; // when this address was first found
    };

    // A target as the engine's snapshot last showed it.
    struct Target
    {
        TargetKind kind = TargetKind::Page;
        QString name;
        Standing standing = Standing::Pending;
        QString reason; // why it failed, is held or not seen
        QDateTime lastAttempt;
        QDateTime nextTry; // invalid: none planned

        TargetId id() const { return {kind, name}; }
        bool current() const { return standing == Standing::Current; }
    };

    struct Mapping
    {
        QString protocol; // "upnp" or "natpmp"
        int port = 0;
        QDateTime leaseUntil; // invalid: a permanent mapping
        QString note;         // the last thing the router said about it, if anything went wrong
    };

    // One change of a family's published address.
    struct Change
    {
        QDateTime at;
        QString family;   // "ipv4" or "ipv6"
        QString previous; // empty: the first address found
        QString address;
        QString source;

        bool operator==(const Change&) const = default;
    };
    static constexpr int kChangesKept = 100; // of each family

    qint64 pid = 0;
    // When that process started, in clock ticks after boot (/proc/PID/stat), so that a later
    // process that got the same number is not taken for watch.
    qint64 pidStart = 0;
    QDateTime watchStarted;
    QDateTime written; // writeStateFile fills it in with the time when left invalid
    QList<Family> families;
    QList<Target> targets;
    QList<Mapping> mappings;
    // The last changes of each family's address, newest first; watch carries them over from the
    // state file it finds at start.
    QList<Change> history;
    // Not stored: why the history of the file read could not be read (it is then empty).
    QString historyProblem;

    bool everyTargetCurrent() const;
};

// Puts `change` at the front of the history unless its address is the family's last one recorded,
// and drops that family's oldest past kChangesKept. An empty `previous` (the first address a watch
// finds) becomes the last address recorded, so that a change while no watch ran shows as one.
void recordAddressChange(PublisherState& state, PublisherState::Change change);

// $XDG_STATE_HOME/quendle/state.json, or ~/.local/state/quendle/state.json. The system unit sets
// XDG_STATE_HOME to /var/lib, so that its state is /var/lib/quendle/state.json.
QString defaultStatePath();

// The start time of process `pid` as PublisherState::pidStart keeps it; nullopt when there is no
// such process.
std::optional<qint64> processStartTime(qint64 pid);

// A state for this very process, its pid and start time filled in.
PublisherState stateOfThisProcess(const QDateTime& watchStarted);

// Whether the process that wrote `state` still runs.
bool writerRuns(const PublisherState& state);

QByteArray stateToJson(const PublisherState& state);
std::variant<PublisherState, QString> stateFromJson(const QByteArray& json);

// Replaces the file at `path` in one step (a new file renamed over it, so never written through a
// link), making its folder with mode 700 when missing and refusing one another user owns (see
// base/safefile.h). Returns the problem, if any.
std::optional<QString> writeStateFile(const QString& path, const PublisherState& state);

struct NoStateFile
{
};
// The state at `path`, NoStateFile when there is none, or why it could not be read.
std::variant<PublisherState, NoStateFile, QString> readStateFile(const QString& path);

} // namespace quendle
