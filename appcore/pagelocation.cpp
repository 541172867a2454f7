#include "appcore/pagelocation.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <unistd.h>

namespace quendle {

namespace {

// Asks for the effective user's rights, as the write itself will be judged; also false on a
// read-only file system.
bool canCreateFilesIn(const QString& directory)
{
    return faccessat(AT_FDCWD, QFile::encodeName(directory).constData(), W_OK | X_OK, AT_EACCESS) ==
           0;
}

} // namespace

QString pageDirectory(const QString& executableDirectory, const QString& dataHome)
{
    if (canCreateFilesIn(executableDirectory))
        return executableDirectory;
    const QString directory = QDir(dataHome).filePath(QStringLiteral("quendle"));
    // Folders the program makes for the user's data are the user's alone, as the XDG base
    // directory rules ask.
    if (!QDir(directory).exists() && QDir().mkpath(dataHome))
        QDir(dataHome).mkdir(QStringLiteral("quendle"),
                             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return directory;
}

QString userDataHome()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

} // namespace quendle
