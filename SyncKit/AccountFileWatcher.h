#pragma once

#include "SyncKit/CloudAccount.h"

#include <QFileSystemWatcher>
#include <QObject>

#include <optional>

namespace SyncKit {

// Keeps the account of an account file current: tells when the file appears, changes or goes away. The file
// is usually replaced whole (written beside and renamed), and its folder may not exist yet, so the folder and
// its parent are watched as well as the file.
class AccountFileWatcher : public QObject
{
    Q_OBJECT

public:
    explicit AccountFileWatcher(QString path, QObject *parent = nullptr);

    const std::optional<CloudAccount> &account() const { return m_account; }
    // Reads the file again now; accountChanged follows when the account differs.
    void reload();

signals:
    void accountChanged();

private:
    void watch();

    QString m_path;
    QFileSystemWatcher m_watcher;
    std::optional<CloudAccount> m_account;
};

} // namespace SyncKit
