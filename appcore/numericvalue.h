#pragma once

#include <QString>

#include <optional>

namespace quendle {

// The number at the start of a text: blanks, tabs and line feeds anywhere are skipped, then an
// optional sign, digits with at most one full stop and an optional exponent are read as far as
// they go. A text without a leading number is 0, whatever the locale. Returns nothing when the
// number is too large for a double.
std::optional<double> numericValue(const QString& text);

} // namespace quendle
