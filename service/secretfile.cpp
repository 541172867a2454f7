#include "service/secretfile.h"

#include <QFile>

#include <sys/stat.h>

namespace quendle {

namespace {

constexpr qint64 kLongestSecret = 4096;

bool modeOpenToOthers(mode_t mode)
{
    return (mode & (S_IRWXG | S_IRWXO)) != 0;
}

} // namespace

SecretRead readSecretFile(const QString& path, SecretCheck check)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    // The mode of the file actually opened, not of whatever the path names a moment later.
    struct stat facts
    {
    };
    if (::fstat(file.handle(), &facts) != 0 || !S_ISREG(facts.st_mode))
        return {{}, QStringLiteral("%1 is not a file").arg(path)};
    if (check == SecretCheck::OwnerOnly && modeOpenToOthers(facts.st_mode))
        return {
            {},
            QStringLiteral("%1 can be read or changed by group or others, and it holds a password; "
                           "run chmod 600 %1")
                .arg(path)};
    QByteArray bytes = file.read(kLongestSecret + 1);
    if (bytes.size() > kLongestSecret)
        return {{}, QStringLiteral("%1 is too long for a password").arg(path)};
    if (bytes.endsWith('\n'))
        bytes.chop(bytes.endsWith("\r\n") ? 2 : 1);
    if (bytes.isEmpty())
        return {{}, QStringLiteral("%1 is empty").arg(path)};
    if (bytes.contains('\n') || bytes.contains('\r'))
        return {{}, QStringLiteral("%1 holds more than one line").arg(path)};
    return {QString::fromUtf8(bytes), {}};
}

} // namespace quendle
