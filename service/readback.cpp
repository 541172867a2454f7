#include "service/readback.h"

#include "address/ipaddresstext.h"
#include "address/web/httpexchange.h"

#include <QUrl>

#include <libxml/HTMLparser.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>

namespace quendle {

namespace {

Expected<QString> anyFamily(const QString& text)
{
    if (auto v4 = canonicalAddress(text, AddressFamily::Ipv4))
        return v4;
    return canonicalAddress(text, AddressFamily::Ipv6);
}

// The elements whose content a browser shows or runs as text, never as markup: an <a> that
// libxml2 finds inside one (it reads only script and style as text) is no link.
bool holdsText(const xmlNode* element)
{
    static const char* const names[] = {"script",   "style",    "title",    "textarea",
                                        "xmp",      "iframe",   "noembed",  "noframes",
                                        "noscript", "template", "plaintext"};
    return std::any_of(std::begin(names), std::end(names), [element](const char* name) {
        return xmlStrcasecmp(element->name, BAD_CAST name) == 0;
    });
}

// The host of an http:// link as a browser reads it ("http://user@203.0.113.7:8080/x" leads to
// 203.0.113.7, "http://[::1]/" to ::1); empty for any other link.
QString httpHost(const QString& href)
{
    const QUrl url(href.trimmed());
    if (!url.isValid() || url.scheme() != QLatin1String("http"))
        return {};
    return url.host();
}

} // namespace

QStringList linkedAddresses(const QByteArray& page)
{
    QStringList found;
    if (page.size() > std::numeric_limits<int>::max())
        return found;
    // Not reentrant, and read-backs of several targets may run at once on their workers.
    static std::once_flag initialized;
    std::call_once(initialized, xmlInitParser);
    // The page is ISO-8859-1; any other encoding it names is ignored: links are ASCII in both, and
    // every byte is a character in ISO-8859-1, so no bad byte ends the parse early. No implied
    // html, head and body elements: with them libxml2 2.9 ends a script at such an element's end
    // tag (a "</html>" inside the script), where a browser reads on to "</script>".
    const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                        HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC | HTML_PARSE_NOIMPLIED;
    const std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> document(
        htmlReadMemory(page.constData(), static_cast<int>(page.size()), nullptr, "ISO-8859-1",
                       options),
        xmlFreeDoc);
    if (!document)
        return found;
    // Every node in document order, iteratively (the nesting is the page's to choose), past the
    // content of the elements that hold text.
    const auto* const top = reinterpret_cast<const xmlNode*>(document.get());
    const xmlNode* node = document->children;
    while (node) {
        const bool element = node->type == XML_ELEMENT_NODE;
        if (element && xmlStrcasecmp(node->name, BAD_CAST "a") == 0) {
            const std::unique_ptr<xmlChar, void (*)(void*)> href(xmlGetProp(node, BAD_CAST "href"),
                                                                 xmlFree);
            if (href) {
                const Expected<QString> address = anyFamily(
                    httpHost(QString::fromUtf8(reinterpret_cast<const char*>(href.get()))));
                if (address && !found.contains(*address))
                    found << *address;
            }
        }
        if (element && node->children && !holdsText(node)) {
            node = node->children;
            continue;
        }
        while (node && node != top && !node->next)
            node = node->parent;
        node = node && node != top ? node->next : nullptr;
    }
    return found;
}

ReadBack readBack(const QString& url, const QStringList& expectedAddresses,
                  const QByteArray& uploadedPage, ReadBackBounds bounds)
{
    HttpRequest request;
    request.url = url;
    request.headers = {"Cache-Control: no-cache", "Pragma: no-cache"};
    request.totalSeconds = bounds.totalSeconds;
    request.longestBody = bounds.longestPage;
    const HttpAnswer answer = exchange(request);

    ReadBack result;
    if (answer.status == 0) {
        result.reason = answer.error;
        return result;
    }
    if (answer.status < 200 || answer.status > 299) {
        result.reason = QStringLiteral("the web server answered HTTP %1").arg(answer.status);
        return result;
    }
    result.answered = true;
    result.linked = linkedAddresses(answer.body);
    if (!uploadedPage.isEmpty() && answer.body == uploadedPage) {
        result.verified = true;
        result.matched = ReadBackMatch::Bytes;
        return result;
    }
    QStringList missing;
    for (const QString& expected : expectedAddresses)
        if (!result.linked.contains(anyFamily(expected).value_or(expected)))
            missing << expected;
    result.verified = missing.isEmpty();
    if (result.verified) {
        result.matched = ReadBackMatch::Link;
        return result;
    }
    if (result.linked.isEmpty())
        result.reason = QStringLiteral("the page links to no address");
    else
        result.reason =
            QStringLiteral("the page links to %1, not %2")
                .arg(result.linked.join(QStringLiteral(", ")), missing.join(QStringLiteral(", ")));
    return result;
}

QString readBackConfirmation(const QString& url, const ReadBack& result)
{
    if (result.matched == ReadBackMatch::Bytes)
        return QStringLiteral("verified at %1: the bytes uploaded").arg(url);
    return QStringLiteral("verified at %1: another page, but it links to %2")
        .arg(url, result.linked.join(QStringLiteral(", ")));
}

QString uploadedPath(const TargetSettings& target)
{
    if (target.directory.isEmpty())
        return target.remoteName;
    return target.directory +
           (target.directory.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) +
           target.remoteName;
}

QString readBackWarning(const QString& uploadedTo, const QString& url, const ReadBack& result)
{
    if (!result.answered)
        return QStringLiteral("uploaded to %1, but %2 could not be read back: %3")
            .arg(uploadedTo, url, result.reason);
    if (result.linked.isEmpty())
        return QStringLiteral("uploaded to %1, but %2 links to no address: another folder, or a "
                              "cache?")
            .arg(uploadedTo, url);
    return QStringLiteral("uploaded to %1, but %2 still links to %3: another folder, or a cache?")
        .arg(uploadedTo, url, result.linked.join(QStringLiteral(", ")));
}

} // namespace quendle
