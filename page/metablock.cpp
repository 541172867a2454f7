#include "page/metablock.h"

#include "page/pagetext.h"

#include <QStringList>

namespace quendle {

QString robotsValue(bool nofollow, bool noindex)
{
    if (nofollow && noindex)
        return QStringLiteral("NONE");
    if (nofollow)
        return QStringLiteral("INDEX,NOFOLLOW");
    if (noindex)
        return QStringLiteral("NOINDEX,FOLLOW");
    return QStringLiteral("ALL");
}

QString metaBlock(const MetaFields& f)
{
    const auto meta = [](const char* name, const QString& value) {
        return QStringLiteral("<META NAME=\"%1\" CONTENT=\"%2\">")
            .arg(QLatin1String(name), attributeText(value));
    };
    QString title = withCrLf(f.title);
    title.replace(QLatin1Char('<'), QStringLiteral("&lt;"));

    const QStringList lines{
        QStringLiteral("<HTML>"),
        QStringLiteral("<HEAD>"),
        QStringLiteral(
            "<meta http-equiv=\"Content-Type\" content = \"text/html; charset=iso-8859-1\" > "),
        QStringLiteral("<TITLE>%1</TITLE>").arg(title),
        meta("keywords", f.keywords),
        meta("description", f.description),
        meta("ROBOTS", robotsValue(f.nofollow, f.noindex)),
        meta("revisit-after", f.revisitAfter),
        meta("Rating", f.rating),
        meta("Language", f.language),
        meta("Distribution", f.distribution),
        meta("Classification", f.classification),
        meta("Bulletin-Text", f.bulletinText),
        meta("Author", f.author),
        meta("Generator", QStringLiteral("Fernwhistle")),
        QStringLiteral("</HEAD>"),
    };
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

} // namespace quendle
