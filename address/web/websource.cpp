#include "address/web/websource.h"

#include "address/publicaddress.h"
#include "base/curlglobal.h"
#include "base/tlstrust.h"

#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>

namespace quendle {

namespace {

// An echo's answer is a few dozen bytes; anything much longer is not an address.
constexpr qsizetype kLongestAnswer = 1024;

// An echo behind a load balancer or moved to https may redirect once or twice; more is a loop.
constexpr int kMostRedirects = 3;

struct Fetch
{
    QByteArray body;
    bool tooLong = false;
    const std::atomic<bool>* cancel = nullptr;
};

size_t keepBody(char* data, size_t size, size_t count, void* target)
{
    auto* fetch = static_cast<Fetch*>(target);
    const size_t bytes = size * count;
    if (fetch->body.size() + static_cast<qsizetype>(bytes) > kLongestAnswer) {
        fetch->tooLong = true;
        return 0; // stops the transfer
    }
    fetch->body.append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

int checkCancel(void* target, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* fetch = static_cast<Fetch*>(target);
    return fetch->cancel && fetch->cancel->load() ? 1 : 0;
}

// The place a redirect leads to, resolved against the address that gave it.
Expected<QString> redirectTarget(const QString& from, const char* location)
{
    const QUrl target = QUrl(from).resolved(QUrl(QString::fromUtf8(location)));
    const QString shown = target.toString(QUrl::RemoveUserInfo);
    if (target.scheme() != QLatin1String("http") && target.scheme() != QLatin1String("https"))
        return Unexpected(
            QStringLiteral("the echo redirected to %1, which is neither http nor https")
                .arg(shown));
    return target.toString();
}

} // namespace

SourceAnswer webAddress(const QString& url, AddressFamily family, const std::atomic<bool>* cancel,
                        WebSourceBounds bounds)
{
    initialiseCurlOnce();
    SourceAnswer result;
    result.origin = url;
    CURL* handle = curl_easy_init();
    if (!handle) {
        result.error = QStringLiteral("the web library could not be started");
        return result;
    }
    Fetch fetch;
    fetch.cancel = cancel;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed here, one at a time, so that each is checked and the last named.
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, bounds.connectSeconds);
    curl_easy_setopt(handle, CURLOPT_IPRESOLVE,
                     family == AddressFamily::Ipv4 ? CURL_IPRESOLVE_V4 : CURL_IPRESOLVE_V6);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "quendle-publish");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &keepBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &fetch);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &checkCancel);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &fetch);
    const TrustStore trusted = trustStore();
    if (!trusted.file.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, trusted.file.constData());
    if (!trusted.folder.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAPATH, trusted.folder.constData());

    // The bound holds for the whole answer, redirects included.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(bounds.totalSeconds);
    QString current = url;
    CURLcode code = CURLE_OK;
    long status = 0;
    for (int redirects = 0;; ++redirects) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS,
                         static_cast<long>(std::max<qint64>(left.count(), 1)));
        const QByteArray urlBytes = current.toUtf8();
        curl_easy_setopt(handle, CURLOPT_URL, urlBytes.constData());
        fetch.body.clear();
        errorBuffer[0] = '\0';
        code = curl_easy_perform(handle);
        status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        const char* location = nullptr;
        curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &location);
        if (code != CURLE_OK || status < 300 || status > 399 || !location)
            break;
        if (redirects == kMostRedirects) {
            result.error =
                QStringLiteral("the echo redirected more than %1 times").arg(kMostRedirects);
            break;
        }
        const auto next = redirectTarget(current, location);
        if (!next) {
            result.error = next.error();
            break;
        }
        current = *next;
        result.origin = QStringLiteral("%1, redirected from %2")
                            .arg(QUrl(current).toString(QUrl::RemoveUserInfo), url);
    }
    curl_easy_cleanup(handle);

    if (!result.error.isEmpty())
        return result;
    if (fetch.tooLong)
        result.error = QStringLiteral("the answer is longer than an address");
    else if (code == CURLE_ABORTED_BY_CALLBACK)
        result.error = QStringLiteral("stopped");
    else if (code != CURLE_OK)
        result.error = QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
    else if (status < 200 || status > 299)
        result.error = QStringLiteral("the server answered HTTP %1").arg(status);
    else {
        const auto parsed = addressFromBody(fetch.body, family);
        // An echo on this side of the router, or one that lies, names an address no visitor
        // can reach; it is refused as the router's own answer would be.
        const auto reachable = parsed && family == AddressFamily::Ipv4
                                   ? publicIpv4(*parsed, AddressTeller::WebEcho)
                                   : parsed;
        if (reachable)
            result.address = *reachable;
        else
            result.error = reachable.error();
    }
    return result;
}

} // namespace quendle
