#pragma once

#include "dns/dnsnamekeeper.h"
#include "service/enginework.h"

#include <QSet>

#include <chrono>
#include <map>

namespace quendle {

// Providers block clients that repeat: the same address is never sent for a name twice within
// ten minutes, whatever the answers.
class ResendGuard
{
public:
    static constexpr std::chrono::minutes kQuietTime{10};
    using TimePoint = std::chrono::steady_clock::time_point;

    bool maySend(AddressFamily family, const QString& address, TimePoint now) const;
    void sent(AddressFamily family, const QString& address, TimePoint now);

private:
    struct Sent
    {
        QString address;
        TimePoint at;
    };
    std::map<AddressFamily, Sent> m_sent;
};

// A DNS name as a target of the engine: each published family's address in its record, checked
// at the authoritative server. A record cannot say "offline", so the offline page passes it by.
class NameSession : public TargetSession
{
public:
    explicit NameSession(const DnsTargetSettings& settings) : m_keeper(settings) {}

    TargetOutcome publish(const PublishRequest& request) override;
    bool takesOfflinePage() const override { return false; }
    void logOut() override {}

private:
    DnsNameKeeper m_keeper;
    ResendGuard m_guard;
    QSet<QString> m_said; // notes about the families already logged once
};

} // namespace quendle
