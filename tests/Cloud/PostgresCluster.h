#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <optional>

// A private PostgreSQL cluster for the tests: made with initdb in a temporary folder, reachable only through a
// socket in that folder, run as an unprivileged user when the tests run as root, and stopped at the end.
class PostgresCluster
{
public:
    ~PostgresCluster();

    // The cluster shared by the tests of this process, started on first use; nothing when it cannot start.
    static PostgresCluster *shared();

    // The folder that holds the cluster's files (its data, its write-ahead log) and its socket.
    QString folder() const { return m_folder.path(); }
    // A new empty database of the cluster, as --database takes it; empty when it could not be made.
    QString newDatabase();
    // The same of the shared cluster; empty when the cluster did not start either.
    static QString newSharedDatabase();
    // Runs SQL in a database of the cluster; false when it fails.
    bool sql(const QString &database, const QString &statement);
    // The rows a query gives, as psql prints them unaligned; nothing when it fails.
    std::optional<QString> query(const QString &database, const QString &statement);
    // The database as pg_dump writes it, the way a PostgreSQL deployment is backed up; nothing when it fails.
    std::optional<QByteArray> dump(const QString &database);
    // A psql session on a database that runs the statements written to it, in one connection, until its input is
    // closed: for a transaction held open across a test's steps.
    std::unique_ptr<QProcess> session(const QString &database);
    // A new database owned by a new role that must give its password (as --database takes it, without the password);
    // empty when it could not be made.
    QString newDatabaseWithPassword(const QString &role, const QString &password);
    // Stops the cluster with a fast shutdown and starts it again on the same folder and socket, as
    // `pg_ctl -m fast restart` does; false when it did not come back.
    bool restart();

private:
    // False, with the reason in m_error, when it did not start.
    bool start();
    bool run();
    void stop();
    void launch(QProcess &process, const QString &tool, const QStringList &arguments);
    // What a client tool run as the superuser on the cluster's socket prints; nothing, and a failure, when it fails.
    std::optional<QByteArray> output(const QString &tool, const QStringList &arguments);

    QTemporaryDir m_folder;
    QProcess m_server;
    QString m_binaries;
    QString m_error;
    int m_databases = 0;
};
