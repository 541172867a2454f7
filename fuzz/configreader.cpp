// The headless publisher's configuration reader. For any file:
// - every problem names the file and, when it names a line, one of the file's lines;
// - settings come back only when they are whole: a target with a host the transfer component
//   accepts, a user, a password and a plain file name; finite bounds; known, distinct sources;
// - a password, and a line without "=" (a password that lost its key), never shows: with each
//   of them written over by other characters the reader says and stores the same, but for the
//   password itself.

#include "service/configreader.h"
#include "ftp/transferurl.h"
#include "fuzz/fuzzcheck.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <tuple>
#include <variant>

using namespace quendle;
using quendle::fuzz::check;

namespace {

// The files the reader may open besides the configuration: a credential folder and a password
// file, in a folder of the target's own.
struct Sandbox
{
    Sandbox()
    {
        check(folder.isValid(), "a temporary folder");
        const QByteArray credentials = folder.filePath(QStringLiteral("credentials")).toUtf8();
        QDir(folder.path()).mkdir(QStringLiteral("credentials"));
        writeFile(folder.filePath(QStringLiteral("credentials/ftp")), "s3cret\n", 0600);
        writeFile(folder.filePath(QStringLiteral("secret")), "s3cret\n", 0600);
        setenv("CREDENTIALS_DIRECTORY", credentials.constData(), 1);
        setenv("XDG_STATE_HOME", folder.path().toUtf8().constData(), 1);
    }

    static void writeFile(const QString& path, const QByteArray& bytes, int mode)
    {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                  file.write(bytes) == bytes.size(),
              "the sandbox's files can be written");
        file.close();
        QFile::setPermissions(path, mode == 0600
                                        ? QFile::ReadOwner | QFile::WriteOwner
                                        : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    }

    QTemporaryDir folder{QDir::tempPath() + QStringLiteral("/quendle-fuzz-XXXXXX")};
};

// A line the reader takes as `key = value`, or as a line without "=" (no key, the whole line as
// the value).
struct KeyLine
{
    std::optional<QString> key;
    QString value;
};

// Rewrites the key lines of the file, leaving every other line, and every line that is not
// UTF-8, as it is. `edit` returns the new line, or a null text to keep the old one.
QByteArray editLines(const QByteArray& file, const std::function<QString(const KeyLine&)>& edit)
{
    QByteArrayList lines = file.split('\n');
    for (QByteArray& line : lines) {
        const bool cr = line.endsWith('\r');
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString text = QString(utf8(cr ? line.chopped(1) : line)).trimmed();
        if (utf8.hasError() || text.isEmpty() || text.startsWith(u'#') || text.startsWith(u';') ||
            text.startsWith(u'['))
            continue;
        const qsizetype equals = text.indexOf(u'=');
        const QString edited =
            equals < 0 ? edit({std::nullopt, text})
                       : edit({text.left(equals).trimmed(), text.mid(equals + 1).trimmed()});
        if (!edited.isNull())
            line = edited.toUtf8() + (cr ? "\r" : "");
    }
    return lines.join('\n');
}

// The reader opens the file a password_file names: keep it in the sandbox, so that no input
// opens a device or blocks on a pipe.
QByteArray confined(const QByteArray& file, const QString& sandbox)
{
    return editLines(file, [&](const KeyLine& line) {
        if (line.key != u"password_file")
            return QString();
        QString inside = line.value;
        inside.replace(QStringLiteral(".."), QStringLiteral("__"));
        if (!inside.startsWith(sandbox + u'/'))
            inside.prepend(sandbox + u'/');
        return QStringLiteral("password_file = ") + inside;
    });
}

QByteArray secretsOverwritten(const QByteArray& file)
{
    return editLines(file, [](const KeyLine& line) {
        if (!line.key)
            return QString(line.value.size(), u'x'); // the whole line
        if (line.key == u"password")
            return QStringLiteral("password = ") + QString(line.value.size(), u'x');
        return QString();
    });
}

std::variant<PublisherSettings, ConfigErrors> read(const QString& path, const QByteArray& file,
                                                   int mode)
{
    Sandbox::writeFile(path, file, mode);
    return readSettings(path);
}

void checkProblems(const QStringList& messages, const QString& path, qsizetype lineCount,
                   const QByteArray& shown)
{
    static const QRegularExpression where(QStringLiteral("^:(?:([0-9]+):)? "));
    check(!messages.isEmpty(), "a failed read says why", shown);
    for (const QString& message : messages) {
        check(message.startsWith(path), "a problem names the file", shown);
        const QRegularExpressionMatch match = where.match(message.mid(path.size()));
        check(match.hasMatch(), "a problem reads FILE: or FILE:LINE:", shown);
        if (match.hasCaptured(1)) {
            const int line = match.captured(1).toInt();
            check(line >= 1 && line <= lineCount, "a problem names a line of the file", shown);
        }
        check(!message.contains(u'\n'), "a problem is one line", shown);
    }
}

void checkSettings(const PublisherSettings& settings, const QByteArray& shown)
{
    check(!settings.targets.isEmpty(), "at least one target", shown);
    for (const TargetSettings& target : settings.targets) {
        check(!target.name.isEmpty() && !target.user.isEmpty() && !target.password.isEmpty(),
              "each target has a name, a user and a password", shown);
        check(parseServerAddress(target.host).address.has_value(),
              "each target's host is one the transfer component accepts", shown);
        check(!target.remoteName.isEmpty() && !target.remoteName.contains(u'/') &&
                  target.remoteName != u"." && target.remoteName != u"..",
              "the remote name is a plain file name", shown);
    }
    check(std::isfinite(settings.refreshMinutes) && settings.refreshMinutes >= 0 &&
              std::isfinite(settings.address.checkSeconds) && settings.address.checkSeconds > 0,
          "finite, non-negative intervals", shown);
    const QStringList& sources = settings.address.sources;
    check(!sources.isEmpty(), "at least one source", shown);
    check(QSet<QString>(sources.begin(), sources.end()).size() == sources.size(), "no source twice",
          shown);
    check(!sources.contains(QStringLiteral("web")) || !settings.address.webUrl.isEmpty(),
          "the web source has an address", shown);
    check(QDir::isAbsolutePath(settings.page.file), "the page file is an absolute path", shown);
}

// Everything the settings hold but the passwords, to compare.
auto withoutPasswords(const PublisherSettings& settings)
{
    QList<TargetSettings> targets = settings.targets;
    for (TargetSettings& target : targets)
        target.password.clear();
    const AddressSettings& a = settings.address;
    return std::tuple(settings.configFile, settings.page.email, settings.page.file, a.sources,
                      a.families, a.interfaceName, a.webUrl, a.checkSeconds,
                      settings.refreshMinutes, targets);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Sandbox sandbox;
    // A first byte 0x01 makes the file readable by its group; the rest is the file.
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const bool openToGroup = bytes.startsWith('\x01');
    const int mode = openToGroup ? 0640 : 0600;
    const QByteArray file = confined(openToGroup ? bytes.mid(1) : bytes, sandbox.folder.path());
    const QString path = sandbox.folder.filePath(QStringLiteral("publish.conf"));

    const auto original = read(path, file, mode);
    const auto overwritten = read(path, secretsOverwritten(file), mode);
    const qsizetype lineCount = file.count('\n') + 1;
    if (const auto* errors = std::get_if<ConfigErrors>(&original)) {
        checkProblems(errors->messages, path, lineCount, file);
        const auto* others = std::get_if<ConfigErrors>(&overwritten);
        check(others && others->messages == errors->messages,
              "passwords and lines without = never show in the problems", file);
        return 0;
    }
    const auto& settings = std::get<PublisherSettings>(original);
    checkSettings(settings, file);
    const auto* others = std::get_if<PublisherSettings>(&overwritten);
    check(others != nullptr, "a password's characters do not change whether the file reads", file);
    check(withoutPasswords(*others) == withoutPasswords(settings),
          "a password's characters change nothing else", file);
    return 0;
}
