#pragma once

#include <QString>
#include <QtGlobal>

namespace quendle {

// Counts the one-second ticks of the refresh timer and says when the page is due for upload.
class RefreshCounter
{
public:
    // Recomputes the limit from the interval text (minutes times 60). An interval too large to
    // compute gives a limit of 0, which never falls due. The count is left alone.
    void setInterval(const QString& minutesText);

    // Starts counting again from 0 (after an interval change and after every refresh upload).
    void restart();

    // One tick. Returns true when a refresh upload is to run now. While `busy` (a connect, an
    // upload or its message in progress), a refresh that falls due waits for the first tick after.
    bool tick(bool busy);

    double limit() const { return m_limit; }
    qint64 count() const { return m_count; }

private:
    double m_limit = 0;
    qint64 m_count = 0;
    bool m_pending = false;
};

} // namespace quendle
