#pragma once

#include <QString>

namespace quendle {

// A reason and the details behind it as one text: "reason: details", or the reason alone when
// there are no details, never with an empty ": " at its end.
inline QString withDetails(const QString& reason, const QString& details)
{
    if (details.isEmpty())
        return reason;
    if (reason.isEmpty())
        return details;
    return reason + QStringLiteral(": ") + details;
}

} // namespace quendle
