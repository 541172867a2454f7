// Porkbun's API v3: https://porkbun.com/api/json/v3/documentation
#include "dns/providers/provider.h"

namespace quendle::dns {

namespace {

ProviderAnswer updatePorkbun(const ProviderUpdate&)
{
    return failedAnswer(QStringLiteral("porkbun is not built yet"));
}

} // namespace

ProviderRow porkbunRow()
{
    return {DnsProtocol::Porkbun,
            "porkbun",
            {{"ttl"},
             {"zone"},
             {"verify"},
             {"api"},
             {"api_key_file", KeyNeed::Required},
             {"secret_key_file", KeyNeed::Required}},
            nullptr,
            &updatePorkbun};
}

} // namespace quendle::dns
