#pragma once

#include "Cloud/SqlConnection.h"

#include <QObject>
#include <QTimer>

namespace Cloud {

// Hears, on a PostgreSQL connection of its own, the changes that every server process on the database commits, so
// that each process tells its own push sockets. A lost connection is made again; since notices may have been
// missed meanwhile, everyone is told once.
class ChangeListener : public QObject
{
    Q_OBJECT

public:
    ChangeListener(QString address, QString password, QObject *parent = nullptr);

    // False, with the reason, when the first connection cannot be made.
    bool start(QString &error);

signals:
    void userChanged(qint64 user);
    void everyoneChanged();

private:
    bool listen(QString &error);
    void check();

    QString m_address;
    QString m_password;
    std::unique_ptr<SqlConnection> m_connection;
    QTimer m_check;
};

} // namespace Cloud
