#include "Vellora/Platform/StoreLock.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::unique_ptr<StoreLock> StoreLock::tryLock(const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    for (;;) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (error)
                *error = QStringLiteral("the lock file %1 cannot be made: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return nullptr;
        }
        int locked;
        do
            locked = ::flock(fd, LOCK_EX | LOCK_NB);
        while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            ::close(fd);
            return nullptr;
        }
        // A lock won on a file that is no longer at the path (someone removed it meanwhile) guards nothing: it
        // is tried again on the file that is there now.
        struct stat held, current;
        if (::fstat(fd, &held) == 0 && ::stat(name.constData(), &current) == 0 && held.st_dev == current.st_dev &&
            held.st_ino == current.st_ino) {
            // The sticky bit keeps a periodic clean-up of the runtime folder (or of /tmp) from removing the file
            // while it is held, as the XDG base directory rules ask.
            if ((held.st_mode & 07777) != (S_ISVTX | 0600))
                static_cast<void>(::fchmod(fd, S_ISVTX | 0600));
            return std::unique_ptr<StoreLock>(new StoreLock(name, fd));
        }
        ::close(fd);
    }
}

StoreLock::StoreLock(QByteArray path, int fd) : m_path(std::move(path)), m_fd(fd) {}

StoreLock::~StoreLock()
{
    // The file stays for the next holder: making and removing it took longer than the rest of the locking.
    ::close(m_fd);
}
