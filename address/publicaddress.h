#pragma once

#include "base/expected.h"

#include <QLatin1StringView>
#include <QString>

#include <optional>

namespace quendle {

// A range of IPv4 addresses reserved for a special use: no visitor on the Internet can reach an
// address in it.
struct SpecialUseRange
{
    QLatin1StringView cidr;    // "100.64.0.0/10"
    QLatin1StringView purpose; // "carrier-grade NAT", for people
    // Addresses a provider or another router hands out inside its own network: a machine that has
    // one is behind another NAT.
    bool behindNat;
};

// The special-use range `ipv4` (dotted decimal) lies in; none for a public address. Text that is
// not an IPv4 address counts as the "this network" range 0.0.0.0/8, so it is never public.
std::optional<SpecialUseRange> specialUseRange(const QString& ipv4);

// Who told an address, for the reasons below.
enum class AddressTeller { Router, WebEcho };

// The address in `answer`, in canonical form, when it is an IPv4 address visitors on the Internet
// can reach; else why not, for people, naming the special-use range it lies in.
Expected<QString> publicIpv4(const QString& answer, AddressTeller teller);

} // namespace quendle
