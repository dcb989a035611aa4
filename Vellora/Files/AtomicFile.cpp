#include "Vellora/Files/AtomicFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

FaultInjector &injector()
{
    static FaultInjector instance;
    return instance;
}

// The errno a test wants this step to fail with, or 0.
int injected(Step step)
{
    return injector() ? injector()(step) : 0;
}

Error systemError(int code)
{
    return {reasonFor(code), code};
}

// Runs a system call that returns -1 on failure, with a test's fault first; the errno, or 0 on success.
template<typename Call>
int checked(Step step, Call call)
{
    if (const int fault = injected(step))
        return fault;
    int result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

int writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        if (const int fault = injected(Step::write))
            return fault;
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return ENOSPC;
        data += written;
        left -= written;
    }
    return 0;
}

// The file a path names: the target of a symbolic link, so that writing never replaces the link itself.
QByteArray resolvedPath(const QString &path)
{
    const QByteArray local = QFile::encodeName(path);
    struct stat info;
    if (::lstat(local.constData(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char target[PATH_MAX];
        if (::realpath(local.constData(), target))
            return QByteArray(target);
        // A dangling link: write where it points, made absolute against the link's folder.
        const QString link = QFileInfo(path).symLinkTarget();
        if (!link.isEmpty())
            return QFile::encodeName(link);
    }
    return local;
}

Error notRegular(const struct stat &info)
{
    QString kind = QStringLiteral("not a regular file");
    if (S_ISDIR(info.st_mode))
        kind = QStringLiteral("a folder, not a file");
    else if (S_ISFIFO(info.st_mode))
        kind = QStringLiteral("a pipe, not a file");
    else if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        kind = QStringLiteral("a device, not a file");
    else if (S_ISSOCK(info.st_mode))
        kind = QStringLiteral("a socket, not a file");
    return {kind, 0};
}

} // namespace

QString reasonFor(int code)
{
    switch (code) {
    case ENOSPC:
        return QStringLiteral("disk full");
    case EDQUOT:
        return QStringLiteral("disk quota exceeded");
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case EROFS:
        return QStringLiteral("read-only file system");
    case ENOENT:
        return QStringLiteral("the folder does not exist");
    case ENOTDIR:
        return QStringLiteral("a part of the path is not a folder");
    case EIO:
        return QStringLiteral("input/output error");
    default:
        return QString::fromLocal8Bit(std::strerror(code));
    }
}

void setFaultInjector(FaultInjector faultInjector)
{
    injector() = std::move(faultInjector);
}

QString temporaryPattern(const QString &path)
{
    return QFileInfo(path).fileName() + QStringLiteral(".tmp-");
}

std::optional<Error> checkRegularOrMissing(const QString &path)
{
    struct stat info;
    // A path that cannot be looked at is left to the write, which says why it fails.
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    if (!S_ISREG(info.st_mode))
        return notRegular(info);
    return std::nullopt;
}

std::optional<Error> write(const QString &path, const QByteArray &bytes)
{
    const QByteArray target = resolvedPath(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(target)).absolutePath());

    mode_t mode = 0600;
    struct stat existing;
    if (::stat(target.constData(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode))
            return notRegular(existing);
        // Renaming over a file we may not write would sidestep its protection.
        if (::access(target.constData(), W_OK) != 0)
            return systemError(errno);
        mode = existing.st_mode & 0600;
    } else if (errno != ENOENT) {
        return systemError(errno);
    }

    QByteArray temporary = folder + '/' + QFile::encodeName(temporaryPattern(QFile::decodeName(target))) + "XXXXXX";
    int fd = -1;
    if (const int error = checked(Step::open, [&] { return fd = ::mkostemp(temporary.data(), O_CLOEXEC); }))
        return systemError(error);

    int error = checked(Step::open, [&] { return ::fchmod(fd, mode); });
    if (!error)
        error = writeAll(fd, bytes);
    if (!error)
        error = checked(Step::sync, [&] { return ::fdatasync(fd); });
    // close() can report a late write error (on network file systems); it is never retried.
    const int closed = injected(Step::close) ? injected(Step::close) : (::close(fd) == 0 ? 0 : errno);
    if (!error)
        error = closed;
    if (!error)
        error = checked(Step::rename, [&] { return ::rename(temporary.constData(), target.constData()); });
    if (error) {
        ::unlink(temporary.constData());
        return systemError(error);
    }

    int folderFd = -1;
    error = checked(Step::syncFolder, [&] { return folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (!error) {
        error = checked(Step::syncFolder, [&] { return ::fsync(folderFd); });
        ::close(folderFd);
    }
    // The new content is in place; only its name may not survive a power cut. Said all the same: the caller has
    // not seen the save reach the disk.
    if (error)
        return systemError(error);
    return std::nullopt;
}

ReadResult read(const QString &path, qsizetype slack)
{
    const QByteArray local = QFile::encodeName(path);
    // Non-blocking, so that a FIFO in the file's place cannot hang the open; it is refused just after.
    int fd;
    do {
        fd = ::open(local.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        ReadResult result;
        result.missing = errno == ENOENT;
        if (!result.missing)
            result.error = systemError(errno);
        return result;
    }
    struct stat info;
    const bool stated = ::fstat(fd, &info) == 0;
    if (!stated || !S_ISREG(info.st_mode)) {
        const Error error = stated ? notRegular(info) : systemError(errno);
        ::close(fd);
        return {std::nullopt, error, false};
    }
    // Read straight into a buffer of the file's size; a file that grows meanwhile is read to its end all the same.
    // The slack stays allocated when the buffer is cut to what was read.
    QByteArray bytes(qsizetype(info.st_size) + 1 + slack, Qt::Uninitialized);
    qsizetype size = 0;
    for (;;) {
        if (size == bytes.size())
            bytes.resize(bytes.size() * 2);
        const ssize_t got = ::read(fd, bytes.data() + size, size_t(bytes.size() - size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int code = errno;
            ::close(fd);
            return {std::nullopt, systemError(code), false};
        }
        if (got == 0)
            break;
        size += got;
    }
    bytes.truncate(size);
    ::close(fd);
    return {std::move(bytes), std::nullopt, false};
}

void removeLeftovers(const QString &path)
{
    const QFileInfo info(QFile::decodeName(resolvedPath(path)));
    QDir folder = info.absoluteDir();
    // The store's name, ".tmp-" and the six characters mkostemp() adds, exactly: no other file goes, whatever its
    // case (and no pattern is compiled for it).
    const QString prefix = temporaryPattern(info.filePath());
    QDirIterator entries(folder.path(), QDir::Files | QDir::Hidden);
    while (entries.hasNext()) {
        entries.next();
        const QString name = entries.fileName();
        if (name.size() == prefix.size() + 6 && name.startsWith(prefix))
            folder.remove(name);
    }
}

} // namespace AtomicFile
