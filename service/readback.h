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

// What the page at a target's public address holds after an upload.
struct ReadBack
{
    bool verified = false; // the page links to every address expected
    QStringList linked;    // the addresses the page links to, canonical, in page order
    QString reason;        // why it is not verified; empty when it is
    bool answered = false; // the web server sent a page (any links or none)
};

// Fetches `url` as a visitor would, past any cache (Cache-Control: no-cache), certificates
// verified, and checks that the page links to each of `expectedAddresses`. Blocking: run it on
// a worker.
ReadBack readBack(const QString& url, const QStringList& expectedAddresses,
                  ReadBackBounds bounds = {});

// The addresses a status page links to: its http://ADDRESS and http://[IPv6] links, canonical,
// each once. Links to names or anything that is not an address are left out.
QStringList linkedAddresses(const QByteArray& page);

// Where `target` puts the page on its server, as the warning names it: "/www/quendle.htm".
QString uploadedPath(const TargetSettings& target);

// The warning for a page uploaded to `uploadedTo` (its path on the server) that `url` does not
// show: "uploaded to /www/quendle.htm, but https://www.example.org/quendle.htm still links to
// 198.51.100.4: another folder, or a cache?".
QString readBackWarning(const QString& uploadedTo, const QString& url, const ReadBack& result);

} // namespace quendle
