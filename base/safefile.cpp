#include "base/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quendle {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Closes the descriptor it holds when it goes.
class Descriptor
{
public:
    explicit Descriptor(int descriptor) : m_descriptor(descriptor) {}
    ~Descriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_descriptor; }
    // Closes now, for the error close() may report; returns errno or 0.
    int close()
    {
        const int result = ::close(m_descriptor);
        m_descriptor = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int m_descriptor;
};

// Writes every byte; a short write (a file size limit, a full disk) is tried again, so that its
// cause shows as the error of the next one. Returns errno or 0.
int writeAll(int descriptor, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        left -= written;
    }
    return 0;
}

} // namespace

Expected<void> replaceFileByRename(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    if (name.isEmpty() || name == "." || name == "..")
        return Unexpected(QStringLiteral("not the name of a file"));
    const Descriptor folder(::open(QFile::encodeName(info.absolutePath()).constData(),
                                   O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return Unexpected(systemError(errno));

    // Looked at without following a link: a link's target is nothing of ours.
    struct stat old
    {
    };
    const bool replacesRegularFile =
        ::fstatat(folder.get(), name.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(old.st_mode);

    QByteArray temporary;
    int descriptor = -1;
    for (int attempt = 0; attempt < 16 && descriptor < 0; ++attempt) {
        temporary = '.' + name + '.' +
                    QByteArray::number(QRandomGenerator::system()->generate64(), 16)
                        .rightJustified(16, '0') +
                    ".tmp";
        descriptor = ::openat(folder.get(), temporary.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              replacesRegularFile ? 0600 : 0666);
        if (descriptor < 0 && errno != EEXIST)
            break;
    }
    if (descriptor < 0)
        return Unexpected(systemError(errno));
    Descriptor file(descriptor);

    int error = 0;
    if (replacesRegularFile && ::fchmod(file.get(), old.st_mode & 0777) != 0)
        error = errno;
    if (error == 0)
        error = writeAll(file.get(), bytes);
    if (error == 0 && ::fdatasync(file.get()) != 0)
        error = errno;
    if (error == 0)
        error = file.close();
    if (error == 0 &&
        ::renameat(folder.get(), temporary.constData(), folder.get(), name.constData()) != 0)
        error = errno;
    if (error == 0)
        return {};
    ::unlinkat(folder.get(), temporary.constData(), 0);
    return Unexpected(systemError(error));
}

Expected<void> makeOwnFolder(const QString& folder)
{
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QByteArray encoded = QFile::encodeName(absolute);
    // From the top down, each missing folder with mode 700 (the umask may take from it, never
    // add); a folder made by someone else meanwhile is as good as one made here.
    for (qsizetype slash = encoded.indexOf('/', 1);; slash = encoded.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? encoded : encoded.left(slash);
        struct stat facts
        {
        };
        if (::stat(part.constData(), &facts) != 0) {
            if (errno != ENOENT || (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST))
                return Unexpected(QStringLiteral("the folder %1 could not be made: %2")
                                      .arg(QFile::decodeName(part), systemError(errno)));
        }
        if (slash < 0)
            break;
    }

    struct stat facts
    {
    };
    if (::stat(encoded.constData(), &facts) != 0)
        return Unexpected(
            QStringLiteral("the folder %1 cannot be used: %2").arg(absolute, systemError(errno)));
    if (!S_ISDIR(facts.st_mode))
        return Unexpected(QStringLiteral("%1 is not a folder").arg(absolute));
    if (facts.st_uid != ::geteuid() && facts.st_uid != 0)
        return Unexpected(QStringLiteral("the folder %1 belongs to another user (uid %2), who "
                                         "could replace what is written there; use a folder of "
                                         "this user's own (uid %3)")
                              .arg(absolute)
                              .arg(facts.st_uid)
                              .arg(::geteuid()));
    return {};
}

} // namespace quendle
