#pragma once

#include "address/ipaddresstext.h"
#include "service/publishersettings.h"

namespace quendle {

struct NotifyResult
{
    bool ok = false; // the server took it (HTTP 2xx)
    long status = 0; // 0: no answer
    QString answer;  // the start of the server's answer, control characters as \xHH
    QString error;   // why it was not taken; empty when it was
};

// Posts `line` as plain text (UTF-8) to `settings.url`, the token, if any, as
// "Authorization: Bearer". Certificates are verified. Blocking: run it on a worker.
NotifyResult sendNotification(const NotifySettings& settings, const QString& line,
                              long totalSeconds = 20);

// The messages sent, one line each.
QString addressChangedMessage(AddressFamily family, const QString& oldAddress,
                              const QString& newAddress);
QString targetFailingMessage(const QString& target, int failures, const QString& reason);
QString targetWorksAgainMessage(const QString& target);

} // namespace quendle
