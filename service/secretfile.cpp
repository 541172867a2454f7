#include "service/secretfile.h"

#include "service/secretregistry.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace quendle {

namespace {

constexpr qint64 kLongestSecret = 4096;

bool modeOpenToOthers(mode_t mode)
{
    return (mode & (S_IRWXG | S_IRWXO)) != 0;
}

QString openToOthers(const QString& path, const QString& holds)
{
    return QStringLiteral("%1 can be read or changed by group or others, and it holds %2; run "
                          "chmod 600 %1")
        .arg(path, holds);
}

// Registering comes before refusing, everywhere: a secret the program has read stays out of
// every line it shows, whether or not it then accepts it. A refusal must not make the secret
// showable: the user is about to fix the file or the configuration, and the refused text may
// still reach a line on its way (a server's reply, a setting quoted in a message), and the
// previous or next accepted secret is often the same one. A file refused for its mode is never
// read, so there is nothing of it to register. A refused content is registered line by line, as
// a line is what a log or a message can show; the price, a short line of a wrong file taken out
// of later lines too until the program ends, is the safe side to err on.
void registerEveryLine(const QByteArray& bytes)
{
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        registerSecret(QString::fromUtf8(line));
    }
}

} // namespace

SecretRead readSecretFile(const QString& path, SecretCheck check, const QString& holds)
{
    // Without O_NONBLOCK, opening a named pipe would wait for a writer: the check below refuses
    // it instead. A regular file reads the same either way.
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0)
        return {{},
                QStringLiteral("cannot read %1: %2")
                    .arg(path, QString::fromLocal8Bit(std::strerror(errno)))};
    QFile file;
    file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    // The mode of the file actually opened, not of whatever the path names a moment later.
    struct stat facts
    {
    };
    if (::fstat(file.handle(), &facts) != 0 || !S_ISREG(facts.st_mode))
        return {{}, QStringLiteral("%1 is not a file").arg(path)};
    if (check == SecretCheck::OwnerOnly && modeOpenToOthers(facts.st_mode))
        return {{}, openToOthers(path, holds)};
    QByteArray bytes = file.read(kLongestSecret + 1);
    registerEveryLine(bytes);
    if (bytes.size() > kLongestSecret)
        return {{}, QStringLiteral("%1 is too long for %2").arg(path, holds)};
    if (bytes.endsWith('\n'))
        bytes.chop(bytes.endsWith("\r\n") ? 2 : 1);
    if (bytes.isEmpty())
        return {{}, QStringLiteral("%1 is empty").arg(path)};
    if (bytes.contains('\n') || bytes.contains('\r'))
        return {{}, QStringLiteral("%1 holds more than one line").arg(path)};
    return {QString::fromUtf8(bytes), {}};
}

Expected<QString> readSecretSetting(const QString& value, const QString& holds)
{
    if (!QDir::isAbsolutePath(value) || value.endsWith(QLatin1Char('/')))
        return Unexpected(QStringLiteral("must be the absolute path of a file"));
    SecretRead read = readSecretFile(QDir::cleanPath(value), SecretCheck::OwnerOnly, holds);
    if (!read.error.isEmpty())
        return Unexpected(read.error);
    return std::move(read.secret);
}

Expected<QString> acceptInlineSecret(const QString& value, const QString& config,
                                     bool configOpenToOthers)
{
    registerSecret(value);
    if (configOpenToOthers)
        return Unexpected(openToOthers(config, QStringLiteral("a password")));
    if (value.isEmpty())
        return Unexpected(QStringLiteral("must not be empty"));
    return value;
}

Expected<QString> readCredential(const QString& name, const QString& holds)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") ||
        name == QLatin1String(".."))
        return Unexpected(QStringLiteral("must be the name of a credential, without a /"));
    const QString directory = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (directory.isEmpty())
        return Unexpected(
            QStringLiteral("$CREDENTIALS_DIRECTORY is not set; systemd sets it for a service "
                           "with LoadCredential="));
    // systemd makes the directory readable by the service alone, whatever the file's mode.
    const SecretRead read =
        readSecretFile(QDir(directory).filePath(name), SecretCheck::AnyMode, holds);
    if (!read.error.isEmpty())
        return Unexpected(read.error);
    return read.secret;
}

} // namespace quendle
