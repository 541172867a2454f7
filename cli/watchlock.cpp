#include "cli/watchlock.h"

#include "base/safefile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quendle::cli {

namespace {

using namespace Qt::Literals::StringLiterals;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The pid the holder wrote, or 0 while there is none yet.
qint64 holderPid(int descriptor)
{
    char text[32] = {};
    const ssize_t size = ::pread(descriptor, text, sizeof text - 1, 0);
    return size > 0 ? QByteArray(text, size).trimmed().toLongLong() : 0;
}

} // namespace

QString watchLockPath(const QString& statePath)
{
    return QFileInfo(statePath).absolutePath() + u"/watch.lock"_s;
}

Expected<void> takeWatchLock(const QString& statePath)
{
    const QString path = watchLockPath(statePath);
    const auto refused = [&path](const QString& why) {
        return Unexpected(u"watch cannot take its lock %1: %2"_s.arg(path, why));
    };
    if (const auto folder = makeOwnFolder(QFileInfo(path).absolutePath()); !folder)
        return refused(folder.error());
    // Not through a link, and without waiting on a named pipe; the lock is kept for the life of
    // the process, so the descriptor is never closed.
    const int descriptor = ::open(QFile::encodeName(path).constData(),
                                  O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return refused(errno == ELOOP ? u"it is a symbolic link"_s : systemError());
    struct stat facts
    {
    };
    if (::fstat(descriptor, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        ::close(descriptor);
        return refused(u"not a regular file"_s);
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        const QString why = systemError();
        // The holder writes its pid right after it has taken the lock.
        qint64 pid = 0;
        for (int waited = 0; held && (pid = holderPid(descriptor)) == 0 && waited < 1000;
             waited += 50)
            QThread::msleep(50);
        ::close(descriptor);
        if (!held)
            return refused(why);
        return Unexpected(
            u"another watch (pid %1) runs on the state file %2; one watch at a time "
            u"may use it"_s.arg(pid > 0 ? QString::number(pid) : u"unknown"_s, statePath));
    }
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(descriptor, 0) != 0 ||
        ::pwrite(descriptor, pid.constData(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        const QString why = systemError();
        ::close(descriptor);
        return refused(why);
    }
    return {};
}

} // namespace quendle::cli
