#pragma once

#include <QString>

#include <memory>

// The right to write a store file: an advisory lock (flock) on a lock file of that store, which
// InstanceChannel::lockPathFor places in the user's private runtime folder. Whoever holds it may write the store;
// the running app holds it for its whole run, a command line for one command. The kernel lets go of the lock
// when its process ends, however it ends, so a lock is never stale and is never taken over for its age. The file
// itself stays for the next holder.
class StoreLock
{
public:
    // The lock, or nothing when another holder has it or the lock file cannot be made; in that last case
    // `error` says why (it stays empty when the lock is only taken).
    static std::unique_ptr<StoreLock> tryLock(const QString &path, QString *error = nullptr);
    ~StoreLock();

    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;

private:
    StoreLock(QByteArray path, int fd);

    QByteArray m_path;
    int m_fd;
};
