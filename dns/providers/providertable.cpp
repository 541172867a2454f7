#include "dns/providers/provider.h"

// The table of protocols: one line each. Each provider's file defines its row function.
namespace quendle::dns {

ProviderRow rfc2136Row();
ProviderRow dyndns2Row();
ProviderRow cloudflareRow();
ProviderRow porkbunRow();
ProviderRow httpTemplateRow();
ProviderRow duckdnsRow();
ProviderRow hetznerRow();
ProviderRow desecRow();
ProviderRow namecheapRow();

namespace {

// rfc2136 is sent over DNS by the name keeper itself, so its row has no updater.
QList<DnsSettingProblem> checkRfc2136(const DnsTargetSettings& settings)
{
    if (!settings.keySecret.isEmpty() &&
        !QByteArray::fromBase64Encoding(settings.keySecret.toLatin1(),
                                        QByteArray::AbortOnBase64DecodingErrors))
        return {
            {QStringLiteral("key_file"), QStringLiteral("the key's secret is not base64 text")}};
    return {};
}

} // namespace

ProviderRow rfc2136Row()
{
    return {DnsProtocol::Rfc2136,
            "rfc2136",
            {{"ttl"},
             {"server", KeyNeed::Required},
             {"zone"},
             {"key_name", KeyNeed::Required},
             {"key_algorithm"},
             {"key_file", KeyNeed::OneSecret},
             {"credential", KeyNeed::OneSecret}},
            &checkRfc2136,
            nullptr};
}

const QList<ProviderRow>& providerTable()
{
    static const QList<ProviderRow> table{
        rfc2136Row(), dyndns2Row(), cloudflareRow(), porkbunRow(),   httpTemplateRow(),
        duckdnsRow(), hetznerRow(), desecRow(),      namecheapRow(),
    };
    return table;
}

} // namespace quendle::dns
