#include "appcore/refreshcounter.h"

#include "appcore/numericvalue.h"

#include <cmath>

namespace quendle {

void RefreshCounter::setInterval(const QString& minutesText)
{
    const auto minutes = numericValue(minutesText);
    const double limit = minutes ? *minutes * 60 : 0;
    m_limit = std::isfinite(limit) ? limit : 0;
}

void RefreshCounter::restart()
{
    m_count = 0;
    m_pending = false;
}

bool RefreshCounter::tick(bool busy)
{
    ++m_count;
    // A limit that is not a positive whole number never equals the count.
    if (static_cast<double>(m_count) == m_limit)
        m_pending = true;
    if (!m_pending || busy)
        return false;
    m_pending = false;
    return true;
}

} // namespace quendle
