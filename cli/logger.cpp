#include "cli/logger.h"

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

void write(int priority, const QString& text)
{
    static const bool journal = stderrIsJournal();
    QByteArray line = journal ? '<' + QByteArray::number(priority) + '>'
                              : QDateTime::currentDateTime()
                                        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                        .toUtf8() +
                                    ' ';
    // A server's reply may run over several lines; the log keeps one line per event.
    QString oneLine = text;
    oneLine.replace(QLatin1Char('\n'), QStringLiteral("; "));
    line += oneLine.toUtf8() + '\n';
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
