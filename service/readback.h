#pragma once

#include "service/publishersettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quendle {

struct ReadBackBounds
{
    long totalSeconds = 20;
    qsizetype longestPage = 64 * 1024; // the page is a few hundred bytes; no more is read
};

// What showed that visitors see the page published.
enum class ReadBackMatch {
    None,  // not verified
    Bytes, // the page served is byte for byte the page uploaded
    Link,  // the page served differs from the one uploaded, but links to every address expected
};

// What the page at a target's public address holds after an upload.
struct ReadBack
{
    bool verified = false; // the page is the one uploaded, or links to every address expected
    ReadBackMatch matched = ReadBackMatch::None;
    QStringList linked;    // the addresses the page links to, canonical, in page order
    QString reason;        // why it is not verified; empty when it is
    bool answered = false; // the web server sent a page (any links or none)
};

// Fetches `url` as a visitor would, past any cache (Cache-Control: no-cache), certificates
// verified, and checks that the page served is `uploadedPage` (the bytes the target was sent;
// empty: not known) or else that it links to each of `expectedAddresses`. Blocking: run it on a
// worker.
ReadBack readBack(const QString& url, const QStringList& expectedAddresses,
                  const QByteArray& uploadedPage = {}, ReadBackBounds bounds = {});

// The addresses a status page links to as a browser shows its links: the http://ADDRESS and
// http://[IPv6] targets of its <a href> elements, canonical, each once, in page order. What only
// looks like a link is left out: text in comments, scripts, styles and other elements whose
// content is not markup (title, textarea, noscript, template...), and inside other attributes'
// values. Links to names or anything that is not an address are left out too.
QStringList linkedAddresses(const QByteArray& page);

// The note of a verified read-back, saying which check matched: "verified at
// https://www.example.org/quendle.htm: the bytes uploaded", or "...: another page, but it links to
// 203.0.113.7".
QString readBackConfirmation(const QString& url, const ReadBack& result);

// Where `target` puts the page on its server, as the warning names it: "/www/quendle.htm".
QString uploadedPath(const TargetSettings& target);

// The warning for a page uploaded to `uploadedTo` (its path on the server) that `url` does not
// show: "uploaded to /www/quendle.htm, but https://www.example.org/quendle.htm still links to
// 198.51.100.4: another folder, or a cache?".
QString readBackWarning(const QString& uploadedTo, const QString& url, const ReadBack& result);

} // namespace quendle
