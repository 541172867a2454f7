#pragma once

#include <QString>

namespace quendle {

class Feedback;
class FtpClient;

enum class ConnectOutcome { MissingField, Failed, Connected };

// Checks that host, user name and password are filled in (reporting the first that is not), logs
// in under the wait cursor and reports the outcome. A failed login leaves no connection open.
ConnectOutcome connectToServer(FtpClient& ftp, Feedback& feedback, const QString& host,
                               const QString& userName, const QString& password);

// Writes the offline page, uploads it, and logs out whatever the upload's outcome. When the page
// cannot be written the warning is shown and nothing is uploaded, so the server never gets the
// previous page in its place.
void disconnectFromServer(FtpClient& ftp, Feedback& feedback, const QString& remoteDirectory,
                          const QString& pagePath, const QString& email);

} // namespace quendle
