#include "service/servicework.h"

#include "service/namesession.h"
#include "service/pagewriter.h"
#include "service/readback.h"
#include "service/targetpublisher.h"

#include <QFile>

namespace quendle {

namespace {

// A server that takes the page, and the page read back where visitors fetch it when the target
// names that address.
class ServerSession : public TargetSession
{
public:
    explicit ServerSession(const TargetSettings& settings) : m_publisher(settings) {}
    TargetOutcome publish(const PublishRequest& request) override
    {
        // The bytes sent, for the read-back to compare with what visitors are served.
        const QByteArray sent = pageBytes(request.pagePath);
        PageOutcome outcome = m_publisher.publish(request.pagePath);
        if (outcome.uploaded())
            m_uploaded = sent;
        if (outcome.uploaded() && !request.offline)
            look(request, outcome);
        return outcome;
    }
    TargetOutcome verify(const PublishRequest& request) override
    {
        PageOutcome outcome;
        look(request, outcome);
        return outcome;
    }
    void logOut() override { m_publisher.logOut(); }

private:
    void look(const PublishRequest& request, PageOutcome& outcome) const
    {
        const TargetSettings& target = m_publisher.settings();
        if (target.readBackUrl.isEmpty())
            return;
        const ReadBack seen =
            readBack(target.readBackUrl, request.addresses.addresses(), m_uploaded);
        outcome.check =
            seen.verified ? PageOutcome::Check::Verified : PageOutcome::Check::NotVerified;
        outcome.checkNote = seen.verified
                                ? readBackConfirmation(target.readBackUrl, seen)
                                : readBackWarning(uploadedPath(target), target.readBackUrl, seen);
    }

    // The page file as it is now, or nothing when it cannot be read (the upload then says why);
    // no more than a read-back takes.
    static QByteArray pageBytes(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.read(ReadBackBounds{}.longestPage + 1);
    }

    TargetPublisher m_publisher;
    QByteArray m_uploaded; // the page last sent, for verify() to compare with
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

std::shared_ptr<TargetSession> ServiceWork::openName(const DnsTargetSettings& settings)
{
    const QString key = nameBatchKey(settings);
    if (key.isEmpty())
        return std::make_shared<NameSession>(settings);
    std::shared_ptr<NameBatch> batch = m_batches[key].lock();
    if (!batch)
        m_batches[key] = batch = makeNameBatch(settings);
    return std::make_shared<NameSession>(settings, batch);
}

std::shared_ptr<PortKeeper> ServiceWork::openPortKeeper(const router::RouterOptions& options)
{
    return std::make_shared<RouterPorts>(options);
}

Expected<void> ServiceWork::writeOnlinePage(const PublisherSettings& settings,
                                            const AddressRound& published)
{
    // Only a [target] uploads the page: with DNS names alone there is no page to write, and its
    // folder need not even exist.
    if (settings.targets.isEmpty())
        return {};
    return quendle::writeOnlinePage(settings, published.addressOf(AddressFamily::Ipv4),
                                    published.addressOf(AddressFamily::Ipv6));
}

Expected<void> ServiceWork::writeOfflinePage(const PublisherSettings& settings)
{
    if (settings.targets.isEmpty())
        return {};
    return quendle::writeOfflinePage(settings);
}

} // namespace quendle
