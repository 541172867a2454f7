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
    if (const auto* failure = std::get_if<ReadFailure>(&read))
        return {Status::PageUnreadable, failure->message};
    const auto page = pageWithNewHead(std::get<QByteArray>(read), html);
    if (!page)
        return {Status::NoHead, QStringLiteral("The page file has no </head> to replace:\n%1\n\n"
                                               "It was left unchanged.")
                                    .arg(QDir::toNativeSeparators(pagePath))};
    if (const auto error = replaceFile(pagePath, *page))
        return {Status::WriteFailed, *error};
    return {};
}

} // namespace quendle
