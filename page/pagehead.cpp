#include "page/pagehead.h"

#include "page/metablock.h"
#include "page/pagetext.h"

namespace quendle {

std::optional<QByteArray> pageWithNewHead(const QByteArray& page, const QString& html)
{
    static const QByteArray marker("</head>");
    // Lower-casing ASCII only keeps every byte where it was, whatever the page's encoding.
    const qsizetype at = page.toLower().indexOf(marker);
    if (at < 0)
        return std::nullopt;
    const QByteArray tail = page.mid(at + marker.size());
    return toPageBytes(withCrLf(html)) + "\r\n<center>\r\n" + tail + "\r\n";
}

} // namespace quendle
