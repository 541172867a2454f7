#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace quendle {

// One HTTP request, answered or not. For the read-back of a published page, notifications and
// the DNS providers' APIs: a single exchange, no session kept.
struct HttpRequest
{
    QString url;                   // http:// or https://
    QByteArray method = "GET";     // GET, POST, PUT, PATCH or DELETE
    QList<QByteArray> headers;     // "Name: value" lines
    QByteArray body;               // sent with any method but GET
    long totalSeconds = 20;        // the whole exchange, connecting included
    qsizetype longestBody = 65536; // read no further; the answer counts as cut short
    QByteArray userAgent = "quendle-publish";
    QString user;           // with `password`, basic authentication; empty: none
    QString password;       // never in an answer's error
    bool httpsOnly = false; // refuse a plain http:// address (a password goes with it)
};

struct HttpAnswer
{
    long status = 0; // 0: no answer at all
    QByteArray body;
    QList<QByteArray> headers; // the answer's "Name: value" lines, line breaks removed
    bool cutShort = false;     // the body was longer than `longestBody`
    QString error;             // why there is no answer; empty when there is one
};

// Certificates are checked against the system's store, or SSL_CERT_FILE and SSL_CERT_DIR where
// set, as the transfer component does. Redirects are not followed: a read-back must see the
// address it was given, and a notification goes where it was sent.
HttpAnswer exchange(const HttpRequest& request);

} // namespace quendle
