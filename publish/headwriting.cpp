#include "publish/headwriting.h"

#include "page/pagefile.h"
#include "page/pagehead.h"

#include <QDir>

namespace quendle {

WriteHeadResult writeHead(const QString& pagePath, const QString& html)
{
    using Status = WriteHeadResult::Status;
    if (html.isEmpty())
        return {Status::NothingToInsert, QStringLiteral("NO HTML code to insert")};
    const auto read = readPageFile(pagePath);
    if (!read)
        return {Status::PageUnreadable, read.error()};
    const auto page = pageWithNewHead(*read, html);
    if (!page)
        return {Status::NoHead, QStringLiteral("The page file has no </head> to replace:\n%1\n\n"
                                               "It was left unchanged.")
                                    .arg(QDir::toNativeSeparators(pagePath))};
    if (const auto written = replaceFile(pagePath, *page); !written)
        return {Status::WriteFailed, written.error()};
    return {};
}

} // namespace quendle
