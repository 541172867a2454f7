#include "dns/namebatch.h"

#include "dns/cloudflarebatch.h"
#include "dns/rfc2136batch.h"

#include <QCryptographicHash>

namespace quendle {

QString nameBatchKey(const DnsTargetSettings& settings)
{
    switch (settings.protocol) {
    case DnsProtocol::Rfc2136:
        return rfc2136BatchKey(settings);
    case DnsProtocol::Cloudflare:
        return cloudflareBatchKey(settings);
    default:
        return {};
    }
}

QString secretDigest(const QString& secret)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(secret.toUtf8(), QCryptographicHash::Sha256).toHex());
}

std::unique_ptr<NameBatch> makeNameBatch(const DnsTargetSettings& settings, DnsBounds bounds)
{
    switch (settings.protocol) {
    case DnsProtocol::Rfc2136:
        return std::make_unique<Rfc2136Batch>(bounds);
    case DnsProtocol::Cloudflare:
        return std::make_unique<CloudflareBatch>(bounds);
    default:
        return nullptr;
    }
}

} // namespace quendle
