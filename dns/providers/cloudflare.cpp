// Cloudflare's API v4: https://developers.cloudflare.com/api/resources/dns/subresources/records/
#include "dns/providers/provider.h"

namespace quendle::dns {

namespace {

ProviderAnswer updateCloudflare(const ProviderUpdate&)
{
    return failedAnswer(QStringLiteral("cloudflare is not built yet"));
}

} // namespace

ProviderRow cloudflareRow()
{
    return {DnsProtocol::Cloudflare,
            "cloudflare",
            {{"ttl"},
             {"zone"},
             {"zone_id"},
             {"proxied"},
             {"verify"},
             {"api"},
             {"token_file", KeyNeed::OneSecret},
             {"credential", KeyNeed::OneSecret}},
            nullptr,
            &updateCloudflare};
}

} // namespace quendle::dns
