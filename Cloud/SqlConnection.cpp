#include "Cloud/SqlConnection.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QUuid>

namespace Cloud {

namespace {

constexpr auto kFileName = "vellora-cloud.sqlite";
constexpr int kSchemaVersion = 1;

// Fields are stored as the JSON text the device sent; NULL fields mark a tombstone, which keeps the record's name
// and type for the change feed. Zone and user ids are never reused, so they also serve as the incarnations that
// change tokens carry.
const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS users(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL UNIQUE,"
    " counter INTEGER NOT NULL DEFAULT 0, created TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS tokens(hash TEXT PRIMARY KEY,"
    " user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE, created TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS tokens_by_user ON tokens(user_id)",
    "CREATE TABLE IF NOT EXISTS zones(id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE, owner TEXT NOT NULL, name TEXT NOT NULL,"
    " last_change INTEGER NOT NULL, UNIQUE(user_id, owner, name))",
    "CREATE TABLE IF NOT EXISTS zone_deletions(user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
    " owner TEXT NOT NULL, name TEXT NOT NULL, change INTEGER NOT NULL, PRIMARY KEY(user_id, owner, name))",
    "CREATE TABLE IF NOT EXISTS records(zone_id INTEGER NOT NULL REFERENCES zones(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL, type TEXT NOT NULL, change INTEGER NOT NULL, created TEXT, modified TEXT, fields TEXT,"
    " PRIMARY KEY(zone_id, name))",
    "CREATE INDEX IF NOT EXISTS records_by_change ON records(zone_id, change)",
};

QString describe(const QSqlError &error)
{
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

} // namespace

SqlConnection::SqlConnection(QString connectionName, QString path)
    : m_connectionName(std::move(connectionName)), m_path(std::move(path))
{
}

SqlConnection::~SqlConnection()
{
    {
        QSqlDatabase database = QSqlDatabase::database(m_connectionName, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

std::variant<std::unique_ptr<SqlConnection>, QString> SqlConnection::openSqlite(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot make the folder %1").arg(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString path = QDir(folder).filePath(QLatin1String(kFileName));

    const QString name = QStringLiteral("vellora-cloud-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    std::unique_ptr<SqlConnection> connection(new SqlConnection(name, path));
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    if (!database.isValid())
        return QStringLiteral("the SQLite driver of Qt is missing (Debian package libqt6sql6-sqlite)");
    database.setDatabaseName(path);
    // Another process (a command beside the server) may hold the write lock for a moment.
    database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!database.open())
        return QStringLiteral("cannot open %1: %2").arg(path, describe(database.lastError()));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    try {
        const auto mode = connection->value(QStringLiteral("PRAGMA journal_mode=WAL"));
        if (!mode || mode->toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            return QStringLiteral("%1 cannot use write-ahead logging").arg(path);
        connection->run(QStringLiteral("PRAGMA synchronous=FULL"));
        connection->run(QStringLiteral("PRAGMA foreign_keys=ON"));
        connection->makeSchema();
    } catch (const StoreFailure &failure) {
        return QStringLiteral("cannot prepare %1: %2").arg(path, failure.message);
    }
    return connection;
}

void SqlConnection::makeSchema()
{
    beginWrite();
    try {
        run(QLatin1String(kSchema[0]));
        const auto version = value(QStringLiteral("SELECT value FROM meta WHERE key = 'schema'"));
        if (version && version->toInt() > kSchemaVersion)
            throw StoreFailure{QStringLiteral("the database was made by a newer vellora-cloud")};
        for (const char *statement : kSchema)
            run(QLatin1String(statement));
        run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES ('schema', ?)"), {kSchemaVersion});
        commit();
    } catch (const StoreFailure &) {
        rollback();
        throw;
    }
}

QSqlQuery SqlConnection::run(const QString &sql, const QVariantList &binds)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw StoreFailure{describe(query.lastError())};
    for (const QVariant &bind : binds)
        query.addBindValue(bind);
    if (!query.exec())
        throw StoreFailure{describe(query.lastError())};
    return query;
}

std::optional<QVariant> SqlConnection::value(const QString &sql, const QVariantList &binds)
{
    QSqlQuery query = run(sql, binds);
    if (!query.next()) {
        if (query.lastError().isValid())
            throw StoreFailure{describe(query.lastError())};
        return std::nullopt;
    }
    return query.value(0);
}

void SqlConnection::beginWrite()
{
    run(QStringLiteral("BEGIN IMMEDIATE"));
}

void SqlConnection::beginRead()
{
    run(QStringLiteral("BEGIN"));
}

void SqlConnection::commit()
{
    run(QStringLiteral("COMMIT"));
}

void SqlConnection::rollback()
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.exec(QStringLiteral("ROLLBACK"));
}

} // namespace Cloud
