#include "SyncKit/AccountFileWatcher.h"

#include <QFileInfo>

namespace SyncKit {

AccountFileWatcher::AccountFileWatcher(QString path, QObject *parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_account(CloudAccount::readFile(m_path))
{
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &AccountFileWatcher::reload);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &AccountFileWatcher::reload);
    watch();
}

void AccountFileWatcher::watch()
{
    const QFileInfo file(m_path);
    const QString folder = file.absolutePath();
    const QString parent = QFileInfo(folder).absolutePath();
    for (const QString &path : {m_path, folder, parent}) {
        if (QFileInfo::exists(path) && !m_watcher.files().contains(path) && !m_watcher.directories().contains(path))
            m_watcher.addPath(path);
    }
}

void AccountFileWatcher::reload()
{
    // A renamed-over file drops out of the watch; a folder made later has to be added.
    watch();
    auto account = CloudAccount::readFile(m_path);
    if (account == m_account)
        return;
    m_account = std::move(account);
    emit accountChanged();
}

} // namespace SyncKit
