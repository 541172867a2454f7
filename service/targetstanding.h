#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace quendle {

// A page on a server, or a DNS name kept on the address. The configuration allows a [target home]
// and a [dns home] side by side, so a target is known by both its kind and its name.
enum class TargetKind { Page, Name };

struct TargetId
{
    TargetKind kind = TargetKind::Page;
    QString name;

    // "page home" or "dns home": how the log, the state file, status and hooks name it.
    QString text() const;

    bool operator==(const TargetId&) const = default;
    bool operator<(const TargetId& other) const
    {
        return kind != other.kind ? kind < other.kind : name < other.name;
    }
};

// "page" or "dns", as the state file writes a kind; nullopt for any other word.
QString kindWord(TargetKind kind);
std::optional<TargetKind> kindNamed(const QString& word);

// Where one target stands. Only the engine changes it, in one place, and says so each time.
enum class Standing {
    Pending,    // nothing tried yet since the start or the reload that brought it
    Working,    // an upload or a DNS exchange is under way
    Current,    // see TargetStanding::current()
    Unverified, // the page went up, but its url = still shows something else
    Failed,     // the last try failed; the next one is planned
    Held,       // refused (a login, a certificate, a provider's "badauth"): no try until a reload
    Stopped,    // the way out is done with it: its offline page went up, or could not
};

// "pending", "working", ... as the state file and `status --json` write them.
QString standingWord(Standing standing);
std::optional<Standing> standingNamed(const QString& word);

// A target as the engine last left it.
struct TargetStanding
{
    using TimePoint = std::chrono::steady_clock::time_point;

    TargetId id;
    Standing standing = Standing::Pending;
    QString reason; // why it failed, is held or not seen; empty otherwise
    std::optional<TimePoint> lastAttempt;
    std::optional<TimePoint> nextTry; // a failed one's next try

    // A page is current when it went up and, where it has a url =, was seen there; a name when
    // its authoritative server holds the address.
    bool current() const { return standing == Standing::Current; }
};

// How many targets of each kind are current.
struct StandingCounts
{
    int pagesCurrent = 0;
    int pages = 0;
    int namesCurrent = 0;
    int names = 0;

    static StandingCounts of(const QList<TargetStanding>& targets);
    bool allCurrent() const { return pagesCurrent == pages && namesCurrent == names; }
    bool operator==(const StandingCounts&) const = default;
};

// The one line that says how publishing stands, for the log, systemd and `status`:
// "203.0.113.7: 2 of 2 pages, 1 of 1 names current"; "no address found" without an address.
QString standingSummary(const QStringList& addresses, const StandingCounts& counts);

} // namespace quendle
