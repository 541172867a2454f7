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

// What a terminal may act on when it is printed: a C0 control, DEL, or a C1 control (U+0080 to
// U+009F, which some terminals read as ESC sequences).
constexpr bool actsOnTerminal(char16_t c)
{
    return isControlCharacter(c) || (c >= 0x80 && c <= 0x9f);
}

// How the log and `status` show such a character: "\x1b".
inline QString escapedCharacter(char16_t c)
{
    return QStringLiteral("\\x%1").arg(static_cast<int>(c), 2, 16, QLatin1Char('0'));
}

// `text` with every character a terminal may act on shown escaped, tab and line breaks included:
// one line that prints as it reads.
inline QString printableLine(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text)
        if (actsOnTerminal(c.unicode()))
            shown += escapedCharacter(c.unicode());
        else
            shown += c;
    return shown;
}

} // namespace quendle
