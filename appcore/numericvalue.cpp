#include "appcore/numericvalue.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace quendle {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The longest leading run of the text that forms a number, as plain ASCII.
std::string leadingNumber(const QString& text)
{
    std::string s;
    for (const QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        s.push_back(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '\x7f');
    }

    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i]))
        ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return {};
    std::size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        if (i < s.size() && isDigit(s[i])) {
            while (i < s.size() && isDigit(s[i]))
                ++i;
            end = i;
        }
    }
    return s.substr(0, end);
}

locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return locale;
}

} // namespace

std::optional<double> numericValue(const QString& text)
{
    const std::string number = leadingNumber(text);
    if (number.empty())
        return 0.0;
    errno = 0;
    const double value = strtod_l(number.c_str(), nullptr, cLocale());
    if (errno == ERANGE && std::isinf(value))
        return std::nullopt;
    return value;
}

} // namespace quendle
