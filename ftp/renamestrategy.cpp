#include "ftp/renamestrategy.h"

#include "ftp/transferurl.h"

#include <QRandomGenerator>

namespace quendle {

RenameStrategy::RenameStrategy(bool sftp)
    : m_sftp(sftp),
      m_temporaryTag(
          QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, u'0'))
{
}

TransferResult RenameStrategy::upload(Connection& connection, const QString& directory,
                                      const QString& page)
{
    if (m_sendDirectly) {
        const Step sent = connection.send(page, {});
        if (!sent.ok)
            return sent.failure;
        TransferResult direct;
        direct.direct = true;
        return direct;
    }
    const QString temporary = temporaryName(page);
    Step step = connection.send(temporary,
                                renameCommands(directory, temporary, page, m_removeBeforeRename));
    if (step.commandFailed && m_sftp && !m_removeBeforeRename) {
        // SFTP's rename keeps an existing file on many servers (OpenSSH's among them): the
        // old page goes first, for the moment between the two commands.
        step = connection.run(renameCommands(directory, temporary, page, true));
        m_removeBeforeRename = step.ok;
    }
    if (step.ok)
        return {};
    // Some FTP servers keep dot files out for good (a 5xx reply); a passing 4xx is a failure.
    const bool temporaryRefused = step.uploadFailed && step.refusedForGood;
    const bool renameRefused = step.commandFailed && (m_sftp || step.refusedForGood);
    if (!renameRefused && !temporaryRefused) {
        removeQuietly(connection, directory, temporary, step);
        return step.failure;
    }
    if (!temporaryRefused)
        removeQuietly(connection, directory, temporary, step);
    m_sendDirectly = true;
    const Step sent = connection.send(page, {});
    TransferResult direct = sent.ok ? TransferResult{} : sent.failure;
    direct.direct = sent.ok;
    const QString note =
        (temporaryRefused
             ? QStringLiteral("The server refused the temporary file %1 (%2).")
                   .arg(temporary, step.refusal)
             : QStringLiteral("The server refused to rename the temporary file %1 to %2 (%3).")
                   .arg(temporary, page, step.refusal)) +
        QStringLiteral(" On this connection the page is sent straight under its name instead, "
                       "so an upload that breaks off can leave part of it on the server.");
    direct.detail = direct.detail.isEmpty() ? note : direct.detail + QLatin1Char('\n') + note;
    return direct;
}

// The page's temporary name: hidden from most listings, not served as a page, and one of this
// connection's own, so that two programs sending the same page do not mix their bytes.
QString RenameStrategy::temporaryName(const QString& page) const
{
    return QLatin1Char('.') + page + QLatin1Char('.') + m_temporaryTag + QStringLiteral(".tmp");
}

// The commands that put `from` in the place of `to` in the upload's directory. FTP's run in
// that directory; SFTP's name the whole path, relative paths from the login directory.
QStringList RenameStrategy::renameCommands(const QString& directory, const QString& from,
                                           const QString& to, bool removeFirst) const
{
    if (!m_sftp)
        return {QStringLiteral("RNFR ") + from, QStringLiteral("RNTO ") + to};
    const QString source = sftpCommandPath(directory, from);
    const QString target = sftpCommandPath(directory, to);
    QStringList commands;
    // The asterisk lets the first upload, with no old page to remove, go on.
    if (removeFirst)
        commands << QStringLiteral("*rm ") + target;
    return commands << QStringLiteral("rename %1 %2").arg(source, target);
}

// Removes what is left of a temporary file after a failure, unless the server stopped
// answering; the upload's own result is what counts.
void RenameStrategy::removeQuietly(Connection& connection, const QString& directory,
                                   const QString& temporary, const Step& cause) const
{
    if (cause.timedOut)
        return;
    connection.tidy({m_sftp ? QStringLiteral("rm ") + sftpCommandPath(directory, temporary)
                            : QStringLiteral("DELE ") + temporary});
}

} // namespace quendle
