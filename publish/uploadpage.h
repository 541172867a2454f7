#pragma once

#include "ftp/transferclient.h"
#include "page/productsettings.h"

#include <QString>

namespace quendle {

class TransferClient;

struct UploadResult
{
    enum class Status { Transferred, Failed };
    Status status = Status::Transferred;
    QString text;    // "File Transferred!" or "Unable to transfer to remote system"
    QString details; // why it failed: the server's reply or the library's message; after a
                     // transfer, a note on how it was made (a refused rename), or empty
    TransferError error = TransferError::None; // the transfer component's word for a failure
    bool direct = false; // the page went straight under its name, not renamed over the old one
};

// The one upload sequence: sends the page file at `pagePath` as `remoteName` into
// `remoteDirectory` on the connection the client holds. Blocks until done.
UploadResult UploadPage(TransferClient& ftp, const QString& remoteDirectory,
                        const QString& pagePath, const QString& remoteName = kPageFileName);

} // namespace quendle
