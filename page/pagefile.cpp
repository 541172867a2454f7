#include "page/pagefile.h"

#include "page/productsettings.h"

#include "base/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quendle {

QString pageFilePath(const QString& directory)
{
    return QDir::toNativeSeparators(QDir(directory).filePath(kPageFileName));
}

Expected<void> replaceFile(const QString& path, const QByteArray& bytes)
{
    const auto replaced = replaceFileByRename(path, bytes);
    if (replaced)
        return {};
    return Unexpected(QStringLiteral("The page file could not be written:\n%1\n\n%2")
                          .arg(QDir::toNativeSeparators(path), replaced.error()));
}

Expected<QByteArray> readPageFile(const QString& path)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (!QFileInfo::exists(path))
        return Unexpected(QStringLiteral("The page file cannot be read:\n%1\n\nIt does not exist "
                                         "yet. Use Save in the main window first.")
                              .arg(shown));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Unexpected(QStringLiteral("The page file cannot be read:\n%1\n\n%2")
                              .arg(shown, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Unexpected(QStringLiteral("The page file cannot be read:\n%1\n\n%2")
                              .arg(shown, file.errorString()));
    return bytes;
}

} // namespace quendle
