#pragma once

#include "address/router/portmapper.h"
#include "service/addresslookup.h"
#include "service/publishersettings.h"
#include "service/targetoutcome.h"

#include <atomic>
#include <memory>
#include <vector>

namespace quendle {

// What a target is to publish: the page file, and the addresses it links to (for targets that
// keep DNS names).
struct PublishRequest
{
    QString pagePath;
    AddressRound addresses;
    bool offline = false;
    std::chrono::steady_clock::time_point now{}; // the engine's time when the work was asked for
};

// One target and the login kept with it. Its calls block; the engine makes them on the target's
// own worker, one at a time.
class TargetSession
{
public:
    virtual ~TargetSession() = default;
    // Publishes, logging in first when no connection is kept.
    virtual TargetOutcome publish(const PublishRequest& request) = 0;
    // Looks again whether visitors see what `request` published (after an unseen page).
    virtual TargetOutcome verify(const PublishRequest&) { return PageOutcome{}; }
    // False for targets the offline page means nothing to (a DNS name keeps its record).
    virtual bool takesOfflinePage() const { return true; }
    // Sessions of one non-empty key may publish together (DNS names of one zone, server and key
    // in one UPDATE, Cloudflare names of one token in one batch); the engine then gives them one
    // lane.
    virtual QString batchKey() const { return {}; }
    // Publishes `request` to every session of `all` (this one first, all of its batchKey()) in
    // as few exchanges as they allow; one outcome each, in order. Blocks like publish().
    virtual std::vector<TargetOutcome> publishTogether(const std::vector<TargetSession*>& all,
                                                       const PublishRequest& request)
    {
        std::vector<TargetOutcome> outcomes;
        for (TargetSession* session : all)
            outcomes.push_back(session->publish(request));
        return outcomes;
    }
    virtual void logOut() = 0;
};

// The ports kept forwarded on the router (see router::PortMapper). Calls block.
class PortKeeper
{
public:
    virtual ~PortKeeper() = default;
    virtual QList<router::MappingNote> keep() = 0;
    // The IPv6 address the router's pinholes lead to (empty: none); the next keep() moves them.
    virtual void setIpv6Address(const QString& address) = 0;
    virtual QList<router::MappingNote> removeAll() = 0;
};

// The engine's reach into the world: sources, servers, the router and the page file. Production
// uses the real ones (ServiceWork); tests answer from a script.
class EngineWork
{
public:
    virtual ~EngineWork() = default;

    // Blocks; called on the address worker. Asks less once `cancel` is set.
    virtual AddressRound findAddresses(const PublisherSettings& settings,
                                       const std::atomic<bool>* cancel) = 0;
    // Cheap; called on the engine's thread.
    virtual std::shared_ptr<TargetSession> openTarget(const TargetSettings& settings) = 0;
    virtual std::shared_ptr<TargetSession> openName(const DnsTargetSettings& settings) = 0;
    virtual std::shared_ptr<PortKeeper> openPortKeeper(const router::RouterOptions& options) = 0;
    // Write the page file, whole or not at all; called on the engine's thread.
    virtual Expected<void> writeOnlinePage(const PublisherSettings& settings,
                                           const AddressRound& published) = 0;
    virtual Expected<void> writeOfflinePage(const PublisherSettings& settings) = 0;
};

} // namespace quendle
