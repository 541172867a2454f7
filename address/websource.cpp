#include "address/websource.h"

#include <curl/curl.h>

#include <mutex>

namespace quendle {

namespace {

// An echo's answer is a few dozen bytes; anything much longer is not an address.
constexpr qsizetype kLongestAnswer = 1024;

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

// Loading the TLS library costs memory: it happens on the first fetch, not at start. The
// transfer component initialises libcurl from its own threads too, which libcurl allows since
// 7.84 (its "threadsafe" feature).
void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
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
    const QByteArray urlBytes = url.toUtf8();
    curl_easy_setopt(handle, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, bounds.connectSeconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, bounds.totalSeconds);
    curl_easy_setopt(handle, CURLOPT_IPRESOLVE,
                     family == AddressFamily::Ipv4 ? CURL_IPRESOLVE_V4 : CURL_IPRESOLVE_V6);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "quendle-publish");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &keepBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &fetch);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &checkCancel);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &fetch);

    const CURLcode code = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(handle);

    if (fetch.tooLong)
        result.error = QStringLiteral("the answer is longer than an address");
    else if (code == CURLE_ABORTED_BY_CALLBACK)
        result.error = QStringLiteral("stopped");
    else if (code != CURLE_OK)
        result.error = QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
    else if (status < 200 || status > 299)
        result.error = QStringLiteral("the server answered HTTP %1").arg(status);
    else {
        const ParsedAnswer parsed = addressFromBody(fetch.body, family);
        result.address = parsed.address;
        result.error = parsed.error;
    }
    return result;
}

} // namespace quendle
