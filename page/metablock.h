#pragma once

#include <QByteArray>
#include <QString>

namespace quendle {

// What the editor's fields hold when Generate is pressed.
struct MetaFields
{
    QString title;
    QString keywords;
    QString description;
    QString revisitAfter;
    QString rating;
    QString language;
    QString distribution;
    QString classification;
    QString bulletinText;
    QString author;
    bool nofollow = false;
    bool noindex = false;
};

// "ALL", "INDEX,NOFOLLOW", "NOINDEX,FOLLOW" or "NONE".
QString robotsValue(bool nofollow, bool noindex);

// The sixteen-line head block, every line ending in CR LF. Values go in as typed except that a
// quotation mark in an attribute value and a "<" in the title are written as entities; line breaks
// inside a value become CR LF, so such a value spans several lines.
QString metaBlock(const MetaFields& fields);

} // namespace quendle
