#include "cli/logger.h"

#include "base/controlcharacters.h"
#include "service/secretregistry.h"

#include <QByteArray>
#include <QDateTime>

#include <sys/stat.h>
#include <unistd.h>

namespace quendle::cli::logger {

namespace {

bool g_verbose = false;

// systemd sets $JOURNAL_STREAM to the device and inode of the stream it connected; a child whose
// stderr was redirected inherits the variable, so the stream itself is compared.
bool stderrIsJournal()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    struct stat facts
    {
    };
    if (stream.isEmpty() || ::fstat(STDERR_FILENO, &facts) != 0)
        return false;
    return stream == QByteArray::number(static_cast<qulonglong>(facts.st_dev)) + ':' +
                         QByteArray::number(static_cast<qulonglong>(facts.st_ino));
}

// A server's reply may run over several lines; the log keeps one line per event, a run of line
// breaks (a blank line between paragraphs) becoming one separator. Other control
// characters, from a server's reply or a configuration file, are shown as \xHH rather than
// passed to a terminal that would act on them.
QString printable(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    bool afterBreak = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue; // the LF that follows ends the line
        if (c == u'\n') {
            if (!afterBreak)
                shown += QStringLiteral("; ");
            afterBreak = true;
            continue;
        }
        afterBreak = false;
        if (actsOnTerminal(c) && c != u'\t')
            shown += escapedCharacter(c);
        else
            shown += text[i];
    }
    return shown;
}

void write(int priority, const QString& text)
{
    static const bool journal = stderrIsJournal();
    QByteArray line = journal ? '<' + QByteArray::number(priority) + '>'
                              : QDateTime::currentDateTime()
                                        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                        .toUtf8() +
                                    ' ';
    // The one place every line passes: no secret the program has read leaves it.
    line += printable(redactSecrets(text)).toUtf8() + '\n';
    // One write per line, so that lines from several processes do not interleave.
    ssize_t written = 0;
    while (written < line.size()) {
        const ssize_t part = ::write(STDERR_FILENO, line.constData() + written,
                                     static_cast<size_t>(line.size() - written));
        if (part <= 0)
            return;
        written += part;
    }
}

} // namespace

void setVerbose(bool verbose)
{
    g_verbose = verbose;
}

void error(const QString& text)
{
    write(3, text);
}

void warning(const QString& text)
{
    write(4, text);
}

void info(const QString& text)
{
    write(6, text);
}

void debug(const QString& text)
{
    if (g_verbose)
        write(7, text);
}

} // namespace quendle::cli::logger
