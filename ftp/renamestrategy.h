#pragma once

#include "ftp/transferclient.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quendle {

// How a page goes up on one connection: under a temporary name in the same directory, then
// renamed over the old page, so that visitors see either the old page or the whole new one. A
// server that refuses the temporary file or the rename gets the page straight under its name
// for the rest of the connection; an SFTP server whose rename keeps an existing file gets the
// old page removed first. What the server refused is kept for the connection's life.
class RenameStrategy
{
public:
    // One step on the connection, as far as the strategy needs to know it.
    struct Step
    {
        bool ok = false;
        bool uploadFailed = false;  // the server did not take the file
        bool commandFailed = false; // a command that follows the upload, or runs alone, failed
        bool timedOut = false;
        bool refusedForGood = false; // the server's last reply is a 5xx
        TransferResult failure;      // the component's error for the step, when not ok
        QString refusal;             // why the server refused the last command
    };

    // What the strategy asks of the connection, all in the upload's directory.
    class Connection
    {
    public:
        virtual ~Connection() = default;
        // Sends the page as `name`, then runs `afterwards`.
        virtual Step send(const QString& name, const QStringList& afterwards) = 0;
        // Runs `commands` without a transfer, within the upload's bound.
        virtual Step run(const QStringList& commands) = 0;
        // Runs `commands` within a bound of their own, what comes of them ignored.
        virtual void tidy(const QStringList& commands) = 0;
    };

    explicit RenameStrategy(bool sftp);

    // Puts the page in place as `page` in `directory`.
    TransferResult upload(Connection& connection, const QString& directory, const QString& page);

private:
    QString temporaryName(const QString& page) const;
    QStringList renameCommands(const QString& directory, const QString& from, const QString& to,
                               bool removeFirst) const;
    void removeQuietly(Connection& connection, const QString& directory, const QString& temporary,
                       const Step& cause) const;

    bool m_sftp;
    QString m_temporaryTag;            // this connection's own, in every temporary name
    bool m_removeBeforeRename = false; // the server's SFTP rename keeps an existing file
    bool m_sendDirectly = false;       // the server refused a temporary file or its rename
};

} // namespace quendle
