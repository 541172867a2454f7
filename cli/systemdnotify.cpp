#include "cli/systemdnotify.h"

#include <systemd/sd-daemon.h>

#include <time.h>

namespace quendle::cli::systemd {

namespace {

bool send(const QByteArray& state)
{
    // Zero: no socket to tell; negative: it could not be told. Neither stops the publisher.
    return sd_notify(0, state.constData()) > 0;
}

} // namespace

bool ready()
{
    return send("READY=1");
}

bool status(const QString& text)
{
    // One line: a line break would start another assignment.
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return send("STATUS=" + line.toUtf8());
}

bool reloading()
{
    // systemd 253 and later want the monotonic time with RELOADING=1, to tell reloads apart.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const qint64 microseconds = qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    return send("RELOADING=1\nMONOTONIC_USEC=" + QByteArray::number(microseconds));
}

bool stopping()
{
    return send("STOPPING=1");
}

bool watchdog()
{
    return send("WATCHDOG=1");
}

std::optional<std::chrono::microseconds> watchdogInterval()
{
    uint64_t microseconds = 0;
    if (sd_watchdog_enabled(0, &microseconds) <= 0 || microseconds == 0)
        return std::nullopt;
    return std::chrono::microseconds(microseconds / 2);
}

} // namespace quendle::cli::systemd
