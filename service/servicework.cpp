#include "service/servicework.h"

#include "service/pagewriter.h"

namespace quendle {

namespace {

class ServerSession : public TargetSession
{
public:
    explicit ServerSession(const TargetSettings& settings) : m_publisher(settings) {}
    TargetOutcome publish(const PublishRequest& request) override
    {
        return m_publisher.publish(request.pagePath);
    }
    void logOut() override { m_publisher.logOut(); }

private:
    TargetPublisher m_publisher;
};

class RouterPorts : public PortKeeper
{
public:
    explicit RouterPorts(const router::RouterOptions& options) : m_mapper(options) {}
    QList<router::MappingNote> keep() override { return m_mapper.keep(); }
    void setIpv6Address(const QString& address) override { m_mapper.setIpv6Address(address); }
    QList<router::MappingNote> removeAll() override { return m_mapper.removeAll(); }

private:
    router::PortMapper m_mapper;
};

} // namespace

AddressRound ServiceWork::findAddresses(const PublisherSettings& settings,
                                        const std::atomic<bool>* cancel)
{
    return quendle::findAddresses(settings, false, cancel);
}

std::shared_ptr<TargetSession> ServiceWork::openTarget(const TargetSettings& settings)
{
    return std::make_shared<ServerSession>(settings);
}

std::shared_ptr<PortKeeper> ServiceWork::openPortKeeper(const router::RouterOptions& options)
{
    return std::make_shared<RouterPorts>(options);
}

Expected<void> ServiceWork::writeOnlinePage(const PublisherSettings& settings,
                                            const AddressRound& published)
{
    return quendle::writeOnlinePage(settings, published.addressOf(AddressFamily::Ipv4),
                                    published.addressOf(AddressFamily::Ipv6));
}

Expected<void> ServiceWork::writeOfflinePage(const PublisherSettings& settings)
{
    return quendle::writeOfflinePage(settings);
}

} // namespace quendle
