#pragma once

#include "dns/namebatch.h"
#include "service/enginework.h"

#include <map>

namespace quendle {

// The engine's work done for real: the configured sources, the servers of the targets, the
// router, and the page file.
class ServiceWork : public EngineWork
{
public:
    AddressRound findAddresses(const PublisherSettings& settings,
                               const std::atomic<bool>* cancel) override;
    std::shared_ptr<TargetSession> openTarget(const TargetSettings& settings) override;
    std::shared_ptr<TargetSession> openName(const DnsTargetSettings& settings) override;
    std::shared_ptr<PortKeeper> openPortKeeper(const router::RouterOptions& options) override;
    Expected<void> writeOnlinePage(const PublisherSettings& settings,
                                   const AddressRound& published) override;
    Expected<void> writeOfflinePage(const PublisherSettings& settings) override;

private:
    // One batch (and the zones it found) per batch key, for the names that share it.
    std::map<QString, std::weak_ptr<NameBatch>> m_batches;
};

} // namespace quendle
