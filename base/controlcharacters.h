#pragma once

#include <QString>

#include <algorithm>

namespace quendle {

// A C0 control character or DEL: what a terminal may act on, and what ends or splits a line of a
// protocol or a configuration file.
constexpr bool isControlCharacter(char16_t c)
{
    return c < 0x20 || c == 0x7f;
}

inline bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return isControlCharacter(c.unicode()); });
}

} // namespace quendle
