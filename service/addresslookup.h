#pragma once

#include "address/sourceanswer.h"
#include "service/publishersettings.h"

#include <QList>
#include <QStringList>

#include <atomic>

namespace quendle {

// The names `[address] sources` accepts, in no particular order.
QStringList addressSourceNames();

struct NamedAnswer
{
    QString source;
    SourceAnswer answer;
};

// Asks the configured sources in their order: until one answers, or every one of them when
// `askAll` is set (to show what each says). Blocks for at most the sources' own bounds, less once
// `cancel` is set.
QList<NamedAnswer> askSources(const PublisherSettings& settings, bool askAll = false,
                              const std::atomic<bool>* cancel = nullptr);

// What one round of asking found for one address family.
struct FamilyAddress
{
    AddressFamily family = AddressFamily::Ipv4;
    QString address;            // what to publish for this family; empty: nothing
    QString source;             // the source that gave it
    QString origin;             // where that source found it, for people
    QString reason;             // why nothing is published for this family, for people
    QString interfaceName;      // whose kernel notices may change the answer; empty: any
    QStringList notes = {};     // warnings worth saying once
    QList<NamedAnswer> answers; // what each source asked said
};

// One round of asking, every configured family in the configuration's order.
struct AddressRound
{
    QList<FamilyAddress> families;

    bool any() const;
};

// Asks the sources for every configured family: the first answer of each family wins, or, with
// `askAll`, every source is asked and shown.
AddressRound findAddresses(const PublisherSettings& settings, bool askAll = false,
                           const std::atomic<bool>* cancel = nullptr);

} // namespace quendle
