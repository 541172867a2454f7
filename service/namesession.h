#pragma once

#include "dns/dnsnamekeeper.h"
#include "dns/namebatch.h"
#include "service/enginework.h"
#include "service/nameaddresses.h"

#include <QSet>

#include <chrono>
#include <map>
#include <memory>
#include <vector>

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
    // `batch`: shared by the names of one batch key (rfc2136, Cloudflare), which publish
    // together; null for the protocols whose names go one by one.
    explicit NameSession(const DnsTargetSettings& settings,
                         std::shared_ptr<NameBatch> batch = nullptr);

    TargetOutcome publish(const PublishRequest& request) override;
    bool takesOfflinePage() const override { return false; }
    QString batchKey() const override { return m_batchKey; }
    std::vector<TargetOutcome> publishTogether(const std::vector<TargetSession*>& all,
                                               const PublishRequest& request) override;
    void logOut() override {}

private:
    // The records this name is to hold this round, and the notes not said before.
    NameAddresses choose(const PublishRequest& request);

    DnsNameKeeper m_keeper;
    ResendGuard m_guard;
    std::shared_ptr<NameBatch> m_batch;
    QString m_batchKey;
    QSet<QString> m_said; // notes about the families already logged once
};

} // namespace quendle
