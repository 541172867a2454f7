#pragma once

#include "address/sourceanswer.h"
#include "service/publishersettings.h"

#include <QList>
#include <QStringList>

#include <atomic>

namespace quendle {

// The names `[address] sources` accepts, in no particular order.
QStringList addressSourceNames();

// Whether the source `name` can find addresses of `family` (the router knows IPv4 only).
bool sourceFinds(const QString& name, AddressFamily family);

struct NamedAnswer
{
    QString source;
    SourceAnswer answer;
};

// What one round of asking found for one family, and why.
struct FamilyAddress
{
    AddressFamily family = AddressFamily::Ipv4;
    QString address;        // what to publish for this family; empty: nothing
    QString source, origin; // which source gave it, from where
    QString reason;         // why nothing is published for this family (address empty), for people
    // The line itself has no public address of this family (the router says so): no source's
    // answer can be published, and `reason` says what to do about it.
    bool lineNotPublic = false;
    QString interfaceName; // whose kernel notices matter for this family; empty: every interface
    QStringList notes;     // worth telling once: another NAT or a proxy past the router; a
                           // temporary address replaced by the stable one
    QList<NamedAnswer> answers; // what each source asked said, in the order asked
};

// One round for every configured family, in the order of `[address] family`.
struct AddressRound
{
    QList<FamilyAddress> families;
    // Some family has an address to publish.
    bool any() const;
    // The address found for `family`; empty when none was, or the family is not configured.
    QString addressOf(AddressFamily family) const;
    // Every family's address found, in the order of the families.
    QStringList addresses() const;
};

// Finds each configured family's address on its own: the sources in their order, skipping those
// that cannot find the family, until one answers (every one with `askAll`, to show what each
// says). Then it judges the answer as a visitor would meet it:
// - IPv4, with the router among the sources: the router is asked too even when an earlier source
//   answered, since only it can tell whether the line has a public IPv4 address at all. When it
//   reports none (no outside address, or a shared or private one), no other source's IPv4
//   address can be reached either: IPv4 gets no address, and the reason says what to do. When it
//   reports a public address and the web echo saw another public one, the router's is published
//   (visitors come in through it) with a note. A router that cannot be asked changes nothing.
// - IPv6: an echo's answer that this machine holds as a temporary (privacy) address is replaced
//   by the stable address of the same interface and /64 prefix, with a note.
// Blocks for at most the sources' own bounds, less once `cancel` is set.
AddressRound findAddresses(const PublisherSettings& settings, bool askAll = false,
                           const std::atomic<bool>* cancel = nullptr);

} // namespace quendle
