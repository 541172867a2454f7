#pragma once

// What the fuzz targets share: reading texts from the input, stopping on a broken property, and
// the shape of HTML that the properties compare.

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

namespace quendle::fuzz {

// A broken property is a crash to libFuzzer, which keeps the input that caused it.
inline void check(bool holds, const char* property, const QByteArray& shown = {})
{
    if (holds)
        return;
    std::fprintf(stderr, "Property broken: %s\n%s\n", property, shown.toPercentEncoding().data());
    std::abort();
}

// The next text of the input: UTF-8 up to a backslash followed by another character (a doubled
// backslash is one backslash), so that seeds read as "field\ field\ ...".
inline QString nextText(FuzzedDataProvider& input)
{
    return QString::fromStdString(input.ConsumeRandomLengthString());
}

inline QString remainingText(FuzzedDataProvider& input)
{
    return QString::fromStdString(input.ConsumeRemainingBytesAsString());
}

// The HTML with the contents of every double-quoted attribute value taken out: two pages with
// equal shapes differ only inside attribute values.
inline QByteArray withoutAttributeValues(const QByteArray& html)
{
    QByteArray shape;
    bool inTag = false;
    bool inValue = false;
    for (const char c : html) {
        if (inTag && c == '"')
            inValue = !inValue;
        else if (inValue)
            continue;
        else if (c == '<')
            inTag = true;
        else if (c == '>')
            inTag = false;
        shape += c;
    }
    return shape;
}

// Every tag of the HTML in order, with the contents of its double-quoted attribute values taken
// out: two pages with equal lists have the same elements and attributes, whatever the values.
inline QByteArrayList tagsOf(const QByteArray& html)
{
    QByteArrayList tags;
    QByteArray tag;
    bool inTag = false;
    bool inValue = false;
    for (const char c : html) {
        if (!inTag) {
            if (c == '<') {
                inTag = true;
                tag = "<";
            }
            continue;
        }
        if (c == '"')
            inValue = !inValue;
        else if (inValue)
            continue;
        tag += c;
        if (c == '>') {
            tags << tag;
            inTag = false;
        }
    }
    if (inTag)
        tags << tag;
    return tags;
}

// Every line ends in CR LF, the last one included: no CR or LF stands alone.
inline bool linesEndInCrLf(const QByteArray& text)
{
    if (!text.isEmpty() && !text.endsWith("\r\n"))
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool crBeforeLf = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        const bool lfAfterCr = text[i] == '\n' && i > 0 && text[i - 1] == '\r';
        if ((text[i] == '\r' && !crBeforeLf) || (text[i] == '\n' && !lfAfterCr))
            return false;
    }
    return true;
}

} // namespace quendle::fuzz
