// The http protocol: a template for a provider without a file of its own, its request written
// out in the section (method, url, header, body) and its answer of success given as text.
#include "dns/providers/provider.h"

namespace quendle::dns {

namespace {

ProviderAnswer updateHttpTemplate(const ProviderUpdate&)
{
    return failedAnswer(QStringLiteral("http is not built yet"));
}

} // namespace

ProviderRow httpTemplateRow()
{
    return {DnsProtocol::Http,
            "http",
            {{"url", KeyNeed::Required},
             {"method"},
             {"header"},
             {"body"},
             {"success", KeyNeed::Required},
             {"verify"},
             {"token_file"},
             {"credential"}},
            nullptr,
            &updateHttpTemplate};
}

} // namespace quendle::dns
