#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quendle {

// The page with everything up to and including its first "</head>" (in any letter case)
// replaced by `html`, a "<center>" line and the rest of the old page, each followed by CR LF.
// Returns nothing when the page has no "</head>".
std::optional<QByteArray> pageWithNewHead(const QByteArray& page, const QString& html);

} // namespace quendle
