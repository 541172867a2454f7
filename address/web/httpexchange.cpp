#include "address/web/httpexchange.h"

#include "base/curlglobal.h"
#include "base/tlstrust.h"

#include <curl/curl.h>

namespace quendle {

namespace {

struct Reception
{
    QByteArray body;
    qsizetype longest = 0;
    bool cutShort = false;
};

size_t keepBody(char* data, size_t size, size_t count, void* target)
{
    auto* reception = static_cast<Reception*>(target);
    const auto bytes = static_cast<qsizetype>(size * count);
    const qsizetype room = reception->longest - reception->body.size();
    if (bytes > room) {
        reception->body.append(data, room);
        reception->cutShort = true;
        return 0; // stops the transfer
    }
    reception->body.append(data, bytes);
    return size * count;
}

// The header lines of the last answer: a "100 Continue" before the final one starts them anew.
size_t keepHeader(char* data, size_t size, size_t count, void* target)
{
    auto* headers = static_cast<QList<QByteArray>*>(target);
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(size * count)).trimmed();
    if (line.startsWith("HTTP/"))
        headers->clear();
    else if (!line.isEmpty() && headers->size() < 200)
        headers->append(line);
    return size * count;
}

} // namespace

HttpAnswer exchange(const HttpRequest& request)
{
    initialiseCurlOnce();
    HttpAnswer answer;
    CURL* handle = curl_easy_init();
    if (!handle) {
        answer.error = QStringLiteral("the web library could not be started");
        return answer;
    }
    Reception reception;
    reception.longest = request.longestBody;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray url = request.url.toUtf8();
    const QByteArray user = request.user.toUtf8();
    const QByteArray password = request.password.toUtf8();
    curl_slist* headers = nullptr;
    for (const QByteArray& header : request.headers)
        headers = curl_slist_append(headers, header.constData());
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, request.httpsOnly ? "https" : "http,https");
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, request.totalSeconds);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, request.userAgent.constData());
    if (!user.isEmpty()) {
        curl_easy_setopt(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(handle, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(handle, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &keepBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reception);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &keepHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &answer.headers);
    const TrustStore trusted = trustStore();
    if (!trusted.file.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, trusted.file.constData());
    if (!trusted.folder.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAPATH, trusted.folder.constData());
    if (request.method != "GET") {
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.constData());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
        if (request.method != "POST")
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.constData());
    }

    const CURLcode code = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_cleanup(handle);
    curl_slist_free_all(headers);

    answer.body = reception.body;
    answer.cutShort = reception.cutShort;
    if (code != CURLE_OK && !reception.cutShort) {
        answer.status = 0;
        answer.error = QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
    }
    return answer;
}

} // namespace quendle
