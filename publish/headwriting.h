#pragma once

#include <QString>

namespace quendle {

struct WriteHeadResult
{
    enum class Status { Written, NothingToInsert, PageUnreadable, NoHead, WriteFailed };
    Status status = Status::Written;
    QString text; // the message for the user; empty when written
};

// Puts `html` at the head of the page file in place of everything up to its first "</head>":
// reads the page, replaces its head and writes it back whole and atomically. An empty `html`, a
// page that cannot be read or has no head, and a failed write leave the file as it was.
WriteHeadResult writeHead(const QString& pagePath, const QString& html);

} // namespace quendle
