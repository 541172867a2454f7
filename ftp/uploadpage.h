#pragma once

#include <QString>

namespace quendle {

class Feedback;
class FtpClient;

// The one upload sequence: sends the page file at `pagePath` as "quendle.htm" into
// `remoteDirectory`, under the wait cursor, then tells the user how it went. Returns whether the
// upload succeeded, once the message has been dismissed.
bool UploadPage(FtpClient& ftp, Feedback& feedback, const QString& remoteDirectory,
                const QString& pagePath);

} // namespace quendle
