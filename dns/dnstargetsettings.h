#pragma once

#include "address/ipaddresstext.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace quendle {

// How a name is kept: DNS UPDATE, or one provider's web API. Each has a row in the table of
// dns/providers/provider.h, which names it for the configuration and lists its keys.
enum class DnsProtocol {
    Rfc2136,
    Dyndns2,
    Cloudflare,
    Porkbun,
    Http, // a template for any other provider's web API
    Duckdns,
    Hetzner,
    Desec,
    Namecheap,
};

enum class TsigAlgorithm { HmacSha256, HmacSha512, HmacSha1 };

// One DNS name kept pointing at this machine.
struct DnsTargetSettings
{
    QString name; // the section's name, for the log
    DnsProtocol protocol = DnsProtocol::Rfc2136;
    QString dnsName;       // home.example.org, without the final dot
    int ttl = 60;          // for a record made new; for one that exists too when ttlGiven
    bool ttlGiven = false; // `ttl =` set: a provider's record takes it even if it had its own

    // rfc2136
    QString server; // the zone's primary: host[:port], IPv6 in brackets
    QString zone;   // rfc2136 and the providers that want it; empty: as the SOA names it
    QString keyName;
    TsigAlgorithm keyAlgorithm = TsigAlgorithm::HmacSha256;
    QString keySecret; // base64; never shown

    // dyndns2
    QString url; // the provider's update address, https://…/nic/update; http: the template
    QString user;
    QString password;  // never shown
    QString hostname;  // the name the provider knows; empty: dnsName
    QString verify;    // host[:port] to check at; empty: the name's authoritative servers
    bool dual = false; // dyndns2: both families in one request, myip=v4,v6

    // The providers' web APIs (dns/providers/)
    QString api;                 // the provider's base address; empty: its published one
    QString token;               // token_file or credential; never shown
    QString apiKey;              // porkbun: api_key_file; never shown
    QString secretKey;           // porkbun: secret_key_file; never shown
    QString zoneId;              // cloudflare: zone_id; empty: found by the zone's name
    std::optional<bool> proxied; // cloudflare; unset: as the record has it (a new one: false)

    // http, the template: `url` above with {name}, {address} and {family} filled in
    QString method = QStringLiteral("GET");
    QStringList headers; // "Name: value", each may hold the placeholders too
    QString body;        // likewise; sent with any method but GET
    QString success;     // the answer must hold this text, or match it as /regular expression/

    // A name for another machine of the home network: its AAAA record is the prefix of this
    // machine's published IPv6 address, its first `prefixLength` bits, followed by this interface
    // identifier (canonical, "::211:32ff:fe12:3456"). Empty: the name is this machine's.
    QString ipv6Host;
    int prefixLength = 64;
    // The families whose record the name holds; empty: every family [address] family publishes.
    QList<AddressFamily> families;

    bool operator==(const DnsTargetSettings&) const = default;
};

struct DnsBounds
{
    int exchangeSeconds = 20; // one question and its answer, or one HTTPS request
};

struct DnsServerAddress
{
    QString host; // a name or an address, without brackets
    quint16 port = 53;
};

// "ns1.example.org", "192.0.2.1:5353", "[2001:db8::1]:53" or "2001:db8::1"; nullopt when the
// text is none of these.
std::optional<DnsServerAddress> parseDnsServer(const QString& text);

// True when `text` is a domain name of letters, digits, hyphens and underscores, in labels of at
// most 63 characters, 253 in all; one final dot allowed.
bool isDomainName(const QString& text);

// "hmac-sha256" and the others as the configuration names them.
std::optional<TsigAlgorithm> tsigAlgorithmNamed(const QString& text);
QString tsigAlgorithmName(TsigAlgorithm algorithm);

struct DnsSettingProblem
{
    QString key;
    QString message;
};

// What does not fit the protocol in the values of a section, once every key is read (the keys
// themselves are checked against the protocol's row by the configuration reader). Messages never
// hold a secret.
QList<DnsSettingProblem> checkDnsTarget(const DnsTargetSettings& settings);

// The text of `protocol =` for `protocol`.
QString dnsProtocolName(DnsProtocol protocol);

} // namespace quendle
