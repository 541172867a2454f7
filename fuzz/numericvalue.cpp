// The numeric value of a text: never NaN or infinite, and blind to what cannot be part of a
// number: blanks anywhere and anything after the number.

#include "appcore/numericvalue.h"
#include "fuzz/fuzzcheck.h"

#include <cmath>

using namespace quendle;
using quendle::fuzz::check;

namespace {

bool sameValue(const std::optional<double>& a, const std::optional<double>& b)
{
    return a.has_value() == b.has_value() && (!a || *a == *b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = QString::fromUtf8(bytes);
    const std::optional<double> value = numericValue(text);
    check(!value || std::isfinite(*value), "the value is a finite number", bytes);

    check(sameValue(numericValue(text + u'x'), value), "what follows the number is ignored", bytes);

    for (const char16_t blank : {u' ', u'\t', u'\n'}) {
        QString spaced = text;
        spaced.insert(text.size() / 2, blank);
        check(sameValue(numericValue(spaced), value), "blanks are skipped anywhere", bytes);
    }

    const QString trimmed = text.trimmed();
    if (!trimmed.isEmpty() && ((trimmed[0] >= u'0' && trimmed[0] <= u'9') || trimmed[0] == u'.')) {
        const std::optional<double> negated = numericValue(u'-' + text);
        check(sameValue(negated, value ? std::optional(-*value) : std::nullopt),
              "a minus sign negates the value", bytes);
    }
    return 0;
}
