// Namecheap's dynamic DNS:
// https://www.namecheap.com/support/knowledgebase/article.aspx/29/11/how-do-i-use-a-browser-to-dynamically-update-the-hosts-ip
// GET https://dynamicdns.park-your-domain.com/update?host=HOST&domain=DOMAIN&password=PASSWORD&
// ip=V4, HOST the name's labels before the domain ("@" for the domain itself), PASSWORD the
// domain's Dynamic DNS password (not the account's). The answer is an XML interface-response:
// ErrCount 0 on success, else Err1 says what is wrong ("Passwords do not match", "No Records
// updated. A record not Found;", …). It updates an existing "A + Dynamic DNS" record only, and
// takes IPv4 addresses only; the record keeps the TTL set at Namecheap: the protocol takes none.
#include "dns/providers/provider.h"

#include <QUrlQuery>
#include <QXmlStreamReader>

namespace quendle::dns {

namespace {

const QString kProvider = QStringLiteral("Namecheap");

struct NamecheapReply
{
    bool read = false; // an interface-response with an ErrCount
    int errors = 0;
    QString firstError;
};

NamecheapReply readReply(const QByteArray& body)
{
    NamecheapReply reply;
    // The answer says encoding="utf-16" but comes in UTF-8; the declaration is set aside.
    const qsizetype declared = body.startsWith("<?xml") ? body.indexOf("?>") : -1;
    QXmlStreamReader xml(declared < 0 ? body : body.mid(declared + 2));
    bool first = true;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (first && xml.name() != QLatin1String("interface-response"))
            return reply;
        first = false;
        if (xml.name() == QLatin1String("ErrCount"))
            reply.errors = xml.readElementText().trimmed().toInt(&reply.read);
        else if (xml.name() == QLatin1String("Err1"))
            reply.firstError = xml.readElementText().simplified();
    }
    if (xml.hasError())
        reply.read = false;
    return reply;
}

struct NamecheapError
{
    const char* words; // as Err1 begins
    const char* reason;
};

// Err1 texts that no retry mends: the name is held until the configuration is read again.
const NamecheapError kRefusals[] = {
    {"Passwords do not match",
     "Namecheap refused the password (%1): put the domain's Dynamic DNS password (Advanced DNS, "
     "Dynamic DNS) in password_file, then reload"},
    {"No Records updated. A record not Found",
     "Namecheap has no A + Dynamic DNS record for %3 in %2 (%1): add one at Namecheap (Advanced "
     "DNS), then reload"},
    {"Domain name not found",
     "Namecheap does not know the domain %2 (%1): correct zone, or turn on Dynamic DNS for it at "
     "Namecheap, then reload"},
};

ProviderAnswer updateNamecheap(const ProviderUpdate& update)
{
    const QString& name = update.settings.dnsName;
    if (update.family != AddressFamily::Ipv4) {
        ProviderAnswer refused = failedAnswer(
            QStringLiteral("Namecheap's dynamic DNS takes IPv4 addresses only: the AAAA record "
                           "of %1 is not changed; keep it with another protocol, or publish "
                           "IPv4 only")
                .arg(name));
        refused.sent = false;
        return refused;
    }
    const std::optional<QString> inZone = nameInZone(name, update.zone);
    if (!inZone)
        return notInZone(name, update.zone);
    const QString host = inZone->isEmpty() ? QStringLiteral("@") : *inZone;
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("host"), host);
    query.addQueryItem(QStringLiteral("domain"), update.zone);
    query.addQueryItem(QStringLiteral("password"), update.settings.password);
    query.addQueryItem(QStringLiteral("ip"), update.address);
    ApiRequest request;
    request.url = apiBase(update.settings, "https://dynamicdns.park-your-domain.com") + "/update?" +
                  query.toString(QUrl::FullyEncoded);
    const ApiAnswer answer = callApi(request, update.seconds);
    if (const auto trouble = commonTrouble(answer, kProvider))
        return *trouble;
    const QString details =
        QStringLiteral("HTTP %1: %2").arg(answer.status).arg(shortText(answer.body));
    const NamecheapReply reply = readReply(answer.body);
    if (answer.status != 200 || !reply.read)
        return failedAnswer(QStringLiteral("Namecheap answered HTTP %1 with something other than "
                                           "its interface-response: \"%2\"")
                                .arg(answer.status)
                                .arg(shortText(answer.body, 80)),
                            details);
    if (reply.errors == 0)
        return accepted(QStringLiteral("Namecheap took %1 for %2").arg(update.address, name),
                        details);
    for (const NamecheapError& refusal : kRefusals)
        if (reply.firstError.startsWith(QLatin1String(refusal.words)))
            return heldUntilReload(QString::fromLatin1(refusal.reason)
                                       .replace(QLatin1String("%1"), reply.firstError)
                                       .replace(QLatin1String("%2"), update.zone)
                                       .replace(QLatin1String("%3"), host),
                                   details);
    return failedAnswer(QStringLiteral("Namecheap refused the update: %1")
                            .arg(shortText(reply.firstError.toUtf8())),
                        details);
}

} // namespace

ProviderRow namecheapRow()
{
    return {DnsProtocol::Namecheap,
            "namecheap",
            {{"zone"},
             {"verify"},
             {"api"},
             {"password_file", KeyNeed::OneSecret},
             {"credential", KeyNeed::OneSecret}},
            nullptr,
            &updateNamecheap,
            true}; // the domain is a field of the request
}

} // namespace quendle::dns
