#include "Vellora/Files/RuntimeFolder.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace RuntimeFolder {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString modeText(mode_t mode)
{
    return QStringLiteral("0%1").arg(mode & 07777, 3, 8, QLatin1Char('0'));
}

bool isAbsolute(const QString &path)
{
    return path.startsWith(QLatin1Char('/'));
}

} // namespace

Places Places::ofThisProcess()
{
    const uid_t uid = ::geteuid();
    return {qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/run/user/%1").arg(uid), QStringLiteral("/tmp"),
            uid};
}

QString whyNotPrivate(const QString &folder, uid_t uid)
{
    struct stat info;
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0)
        return QStringLiteral("the folder %1 for vellora's lock and socket cannot be used: %2")
            .arg(folder, systemError(errno));
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("the folder %1 for vellora's lock and socket is a symbolic link; refusing to use it")
            .arg(folder);
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("%1, meant as the folder for vellora's lock and socket, is not a folder").arg(folder);
    if (info.st_uid != uid)
        return QStringLiteral("the folder %1 for vellora's lock and socket is owned by another user (uid %2); refusing "
                              "to use it")
            .arg(folder)
            .arg(info.st_uid);
    // Only the permission bits count: the sticky bit, which the XDG base directory rules suggest against clean-ups, changes nothing.
    if ((info.st_mode & 0777) != 0700)
        return QStringLiteral("the folder %1 for vellora's lock and socket has mode %2, not 0700; refusing to use it")
            .arg(folder, modeText(info.st_mode));
    return {};
}

QString find(const Places &places, QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return QString();
    };
    if (!places.runtimeDir.isEmpty() && isAbsolute(places.runtimeDir)) {
        const QString folder = QDir::cleanPath(places.runtimeDir);
        const QString why = whyNotPrivate(folder, places.uid);
        return why.isEmpty() ? folder : fail(why + QStringLiteral(" (it is $XDG_RUNTIME_DIR)"));
    }
    if (!places.usualRuntimeDir.isEmpty() && whyNotPrivate(places.usualRuntimeDir, places.uid).isEmpty())
        return places.usualRuntimeDir;

    const QString folder = QDir::cleanPath(places.tempDir) + QStringLiteral("/vellora-%1").arg(places.uid);
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 0700) == 0) {
        // Made just now by this process, so its owner is this user; the umask may have taken bits that the owner
        // needs. The folder is opened without following a link, in case it was swapped meanwhile.
        const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            struct stat info;
            if (::fstat(fd, &info) == 0 && info.st_uid == places.uid && (info.st_mode & 0777) != 0700)
                ::fchmod(fd, 0700);
            ::close(fd);
        }
    } else if (errno != EEXIST) {
        return fail(QStringLiteral("the folder %1 for vellora's lock and socket cannot be made: %2")
                        .arg(folder, systemError(errno)));
    }
    const QString why = whyNotPrivate(folder, places.uid);
    return why.isEmpty() ? folder : fail(why);
}

QString find(QString *error)
{
    return find(Places::ofThisProcess(), error);
}

} // namespace RuntimeFolder
