#pragma once

#include "address/ipaddresstext.h"
#include "base/expected.h"
#include "dns/dnsoutcome.h"
#include "dns/dnstargetsettings.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// The ways a [dns NAME] section is kept, one row of a table each (providertable.cpp). A row names
// the protocol as `protocol =` spells it, the keys its section takes and which of them it needs,
// a check of the values read, and, for the providers reached over HTTP, the updater that turns
// "this name should hold this address" into the provider's requests and reads its answers. The
// configuration reader (service/dnssettingkeys.cpp) and checkDnsTarget read the keys and checks
// from here; the name keeper does the rest alike for every HTTP row: it asks the name's
// authoritative servers and sends nothing when they hold the address, calls the updater, then asks
// again and counts the name current only once they serve the new address.
//
// A new provider is a file dns/providers/<name>.cpp that defines its row function (its published
// API reference in the opening comment), a value in DnsProtocol, one line in the table, and the
// readers of any key no other protocol takes in service/dnssettingkeys.cpp.
namespace quendle::dns {

// How a key of a [dns NAME] section stands with one protocol.
enum class KeyNeed {
    Optional,
    Required,
    OneSecret, // exactly one of the row's keys marked so must be given (token_file or credential)
};

struct ProviderKey
{
    const char* name;
    KeyNeed need = KeyNeed::Optional;
};

// What an updater is asked to do. The keeper has already found that the name's authoritative
// servers do not hold `address`.
struct ProviderUpdate
{
    const DnsTargetSettings& settings;
    AddressFamily family;
    QString address;  // canonical
    int seconds = 20; // the bound of each HTTP exchange
    QString zone;     // `zone =`, or the zone the authoritative servers' SOA names
    QString other;    // the address last asked for the other family, canonical; empty: none
    // False within the quiet time after the same address went out (see DnsNameKeeper): an
    // updater whose row says asksFirst may look, but sends nothing and answers heldBack.
    bool maySend = true;
};

// What the provider made of it.
struct ProviderAnswer
{
    enum class Kind {
        Accepted,        // the provider took the address; the keeper then asks its servers
        HeldUntilReload, // the credential, account or name is refused: nothing until a reload
        RetryLater,      // the provider asked for a pause: retryAfter seconds, 0: back off
        Failed,          // no usable answer, or a refusal worth trying again as usual
    };
    Kind kind = Kind::Failed;
    bool sent = false;  // a request reached the provider, or may have
    QString reason;     // for people: the provider's words and what to do
    QString details;    // the provider's answer, shortened and printable; never a secret
    int retryAfter = 0; // seconds, for RetryLater; 0: the keeper backs off on its own
    // The provider's servers answer with other addresses than its record holds (Cloudflare's
    // proxy): the record, read back through the API, is the check, not the DNS answer.
    bool servedElsewhere = false;
    bool alreadyHeld = false; // with servedElsewhere: the record held the address; nothing sent
    bool heldBack = false;    // a change was needed but maySend was false: nothing sent
};

// The provider's answer as the outcome of the name's update (Published for Accepted, before the
// name is asked at its servers).
DnsOutcome providerOutcome(const ProviderAnswer& answer);

using ProviderCheck = QList<DnsSettingProblem> (*)(const DnsTargetSettings&);
using ProviderUpdater = ProviderAnswer (*)(const ProviderUpdate&);

struct ProviderRow
{
    DnsProtocol protocol;
    const char* name;                 // as `protocol =` spells it
    QList<ProviderKey> keys;          // every key the section may give, besides protocol and name
    ProviderCheck check = nullptr;    // the values together, once the section is read; may be null
    ProviderUpdater update = nullptr; // null for rfc2136, which the keeper sends over DNS itself
    bool needsZone = false; // the updater wants the zone: without `zone =`, the keeper asks for it
    // The updater reads the provider's record first and sends nothing when it holds the address
    // (a proxied Cloudflare record, whose servers answer with other addresses): it is called
    // within the quiet time too, with maySend false.
    bool asksFirst = false;
};

// Every protocol, rfc2136 first, in the order the man page lists them.
const QList<ProviderRow>& providerTable();
// The row of `protocol`; every DnsProtocol value of a built protocol has one.
const ProviderRow* providerRow(DnsProtocol protocol);
const ProviderRow* providerNamed(const QString& name);
// "rfc2136, dyndns2, …", for messages.
QString providerNames();

// What a section's keys lack or hold too many of for its protocol: required keys missing, keys of
// other protocols, more than one secret. `keysGiven` holds the keys the section set.
QList<DnsSettingProblem> checkProviderKeys(const ProviderRow& row, const QSet<QString>& keysGiven);

// --- For the updaters ---------------------------------------------------------------------

// One request to a provider's API. Answers are read to 64 KB at most.
struct ApiRequest
{
    QByteArray method = "GET";
    QString url;               // https://, or http:// to a loopback address (the tests)
    QList<QByteArray> headers; // "Name: value"
    QByteArray body;
};

struct ApiAnswer
{
    long status = 0; // 0: no usable answer, see `error`
    QByteArray body;
    QList<QByteArray> headers; // "Name: value" lines of the answer
    QString error;             // why there is no usable answer (unreachable, too long, …)
    bool tooLong = false;      // the answer went past 64 KB and was cut off
    QByteArray header(const QByteArray& name) const; // the value, empty when absent
};

// Sends `request` through the program's one HTTP exchange (the one trust store, certificates
// verified, no redirects followed) within `seconds`. An answer longer than 64 KB, or an address
// that is neither https:// nor http:// to a loopback address, gives an error instead.
ApiAnswer callApi(const ApiRequest& request, int seconds);

// True when `url` may carry a secret: https://, or http:// to 127.0.0.0/8 or ::1.
bool safeApiAddress(const QString& url);
// The base address requests go to: `api =` when given, else the provider's published one; without
// a final "/".
QString apiBase(const DnsTargetSettings& settings, const char* published);

// The common answers every provider may give: no answer, a pause asked for with 429 or 503
// (Retry-After read when given). `provider` names it for people ("Cloudflare").
// Returns an answer to give back as it is, or nothing when the caller reads the answer itself.
std::optional<ProviderAnswer> commonTrouble(const ApiAnswer& answer, const QString& provider);

// The answer's body as a JSON object, or why it is not one (its start shown, printable).
Expected<QJsonObject> jsonObject(const ApiAnswer& answer, const QString& provider);

// The start of a body, printable, for `details` and messages.
QString shortText(const QByteArray& body, qsizetype longest = 200);

ProviderAnswer accepted(const QString& reason, const QString& details = {});
ProviderAnswer heldUntilReload(const QString& reason, const QString& details = {});
ProviderAnswer failedAnswer(const QString& reason, const QString& details = {});

// The labels of `name` before `zone` ("" for the zone itself), compared without case; nothing
// when the name does not lie in the zone.
std::optional<QString> nameInZone(const QString& name, const QString& zone);
// What a name outside its zone is held with, until a reload.
ProviderAnswer notInZone(const QString& name, const QString& zone);

// "A" or "AAAA".
QString recordType(AddressFamily family);

} // namespace quendle::dns
