#include "Cloud/UserDirectory.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUuid>

namespace Cloud {

namespace {

constexpr int kTokenBytes = 32;

QString hashOf(const QString &token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString newToken()
{
    // A token that starts with "-" reads as an option on every command line it is pasted into: draw again.
    for (;;) {
        QByteArray bytes(kTokenBytes, Qt::Uninitialized);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), kTokenBytes / 4);
        const QString token =
            QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        if (!token.startsWith(QLatin1Char('-')))
            return token;
    }
}

QString nowText()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

} // namespace

bool UserDirectory::isValidName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._@-]{0,63}$"));
    return pattern.match(name).hasMatch();
}

std::optional<qint64> UserDirectory::idOf(const QString &name)
{
    const auto id = m_connection.value(QStringLiteral("SELECT id FROM users WHERE name = ?"), {name});
    return id ? std::optional(id->toLongLong()) : std::nullopt;
}

std::variant<QString, StoreFailure> UserDirectory::addDevice(const QString &name)
{
    return m_connection.write([&] {
        m_connection.run(QStringLiteral("INSERT INTO users(name, created) VALUES (?, ?) ON CONFLICT(name) DO NOTHING"),
                         {name, nowText()});
        const auto id = idOf(name);
        if (!id)
            throw StoreFailure{QStringLiteral("the user was not stored")};
        return storeNewToken(*id, QStringLiteral("user add ") + QDateTime::currentDateTimeUtc().toString(
                                                                      u"yyyy-MM-dd hh:mm 'UTC'"));
    });
}

QString UserDirectory::storeNewToken(qint64 user, const QString &label)
{
    const QString token = newToken();
    m_connection.run(QStringLiteral("INSERT INTO tokens(hash, user_id, created, label) VALUES (?, ?, ?, ?)"),
                     {hashOf(token), user, nowText(), label});
    return token;
}

std::variant<QList<UserDirectory::Token>, StoreFailure> UserDirectory::tokens(const QString &name)
{
    return m_connection.read([&] {
        QList<Token> list;
        const QString sql =
            QStringLiteral("SELECT u.name, t.hash, t.created, t.label FROM tokens t JOIN users u ON t.user_id = u.id"
                           " %1 ORDER BY u.name, t.created, t.hash");
        QSqlQuery query = name.isEmpty() ? m_connection.run(sql.arg(QString()))
                                         : m_connection.run(sql.arg(QStringLiteral("WHERE u.name = ?")), {name});
        while (query.next()) {
            list.append(Token{query.value(0).toString(), query.value(1).toString().left(kTokenIdLength),
                              query.value(2).toString(), query.value(3).toString()});
        }
        return list;
    });
}

std::variant<QList<UserDirectory::User>, StoreFailure> UserDirectory::users()
{
    return m_connection.read([&] {
        QList<User> list;
        QSqlQuery query =
            m_connection.run(QStringLiteral("SELECT u.name, u.counter,"
                                            " (SELECT COUNT(*) FROM tokens t WHERE t.user_id = u.id),"
                                            " (SELECT COUNT(*) FROM zones z WHERE z.user_id = u.id),"
                                            " (SELECT COUNT(*) FROM records r JOIN zones z ON r.zone_id = z.id"
                                            "  WHERE z.user_id = u.id AND r.fields IS NOT NULL),"
                                            " (SELECT COUNT(*) FROM key_boxes k WHERE k.user_id = u.id)"
                                            " FROM users u ORDER BY u.name"));
        while (query.next()) {
            list.append(User{query.value(0).toString(), query.value(2).toLongLong(), query.value(3).toLongLong(),
                             query.value(4).toLongLong(), query.value(1).toLongLong(), query.value(5).toInt() > 0});
        }
        return list;
    });
}

std::variant<std::optional<UserDirectory::Removed>, StoreFailure> UserDirectory::removeUser(const QString &name)
{
    return m_connection.write([&]() -> std::optional<Removed> {
        const auto id = idOf(name);
        if (!id)
            return std::nullopt;
        Removed removed;
        removed.zones =
            m_connection.value(QStringLiteral("SELECT COUNT(*) FROM zones WHERE user_id = ?"), {*id})->toLongLong();
        removed.records = m_connection
                              .value(QStringLiteral("SELECT COUNT(*) FROM records r JOIN zones z ON r.zone_id = z.id"
                                                    " WHERE z.user_id = ?"),
                                     {*id})
                              ->toLongLong();
        removed.tokens =
            m_connection.value(QStringLiteral("SELECT COUNT(*) FROM tokens WHERE user_id = ?"), {*id})->toLongLong();
        // Spelled out rather than left to cascades, which need a pragma on every connection.
        m_connection.run(
            QStringLiteral("DELETE FROM records WHERE zone_id IN (SELECT id FROM zones WHERE user_id = ?)"), {*id});
        for (const char *table : {"zones", "zone_deletions", "tokens", "key_boxes", "link_codes"})
            m_connection.run(QStringLiteral("DELETE FROM %1 WHERE user_id = ?").arg(QLatin1String(table)), {*id});
        m_connection.run(QStringLiteral("DELETE FROM users WHERE id = ?"), {*id});
        markRevocation();
        return removed;
    });
}

std::variant<qint64, StoreFailure> UserDirectory::revoke(const QString &nameOrToken)
{
    return m_connection.write([&]() -> qint64 {
        const auto id = idOf(nameOrToken);
        qint64 revoked = 0;
        if (id) {
            // Whoever holds a code could otherwise trade it for a new token after every token was revoked.
            m_connection.run(QStringLiteral("DELETE FROM link_codes WHERE user_id = ?"), {*id});
            revoked = m_connection.run(QStringLiteral("DELETE FROM tokens WHERE user_id = ?"), {*id}).numRowsAffected();
        } else {
            revoked = m_connection.run(QStringLiteral("DELETE FROM tokens WHERE hash = ?"), {hashOf(nameOrToken)})
                          .numRowsAffected();
        }
        static const QRegularExpression tokenId(QStringLiteral("^[0-9a-f]{%1}$").arg(kTokenIdLength));
        // An id names a token only when no other token's hash starts the same.
        if (revoked == 0 && tokenId.match(nameOrToken).hasMatch() &&
            m_connection.value(QStringLiteral("SELECT COUNT(*) FROM tokens WHERE substr(hash, 1, %1) = ?")
                                   .arg(kTokenIdLength),
                               {nameOrToken})
                    ->toLongLong() == 1)
            revoked = m_connection
                          .run(QStringLiteral("DELETE FROM tokens WHERE substr(hash, 1, %1) = ?").arg(kTokenIdLength),
                               {nameOrToken})
                          .numRowsAffected();
        if (revoked > 0)
            markRevocation();
        return revoked;
    });
}

// Read by every running server each second, so that the push sockets of a revoked token close at once.
void UserDirectory::markRevocation()
{
    m_connection.run(QStringLiteral("INSERT INTO meta(key, value) VALUES ('revocations', ?)"
                                    " ON CONFLICT(key) DO UPDATE SET value = excluded.value"),
                     {QUuid::createUuid().toString(QUuid::WithoutBraces)});
}

std::variant<QString, StoreFailure> UserDirectory::revocationMark()
{
    try {
        return m_connection.value(QStringLiteral("SELECT value FROM meta WHERE key = 'revocations'"))
            .value_or(QVariant())
            .toString();
    } catch (const StoreFailure &failure) {
        return failure;
    }
}

std::variant<std::optional<qint64>, StoreFailure> UserDirectory::userNamed(const QString &name)
{
    return m_connection.read([&] { return idOf(name); });
}

std::variant<std::optional<QString>, StoreFailure> UserDirectory::nameOf(qint64 user)
{
    return m_connection.read([&]() -> std::optional<QString> {
        const auto name = m_connection.value(QStringLiteral("SELECT name FROM users WHERE id = ?"), {user});
        return name ? std::optional(name->toString()) : std::nullopt;
    });
}

std::variant<std::optional<qint64>, StoreFailure> UserDirectory::userForToken(const QString &token)
{
    try {
        const auto id =
            m_connection.value(QStringLiteral("SELECT user_id FROM tokens WHERE hash = ?"), {hashOf(token)});
        return id ? std::optional(id->toLongLong()) : std::nullopt;
    } catch (const StoreFailure &failure) {
        return failure;
    }
}

} // namespace Cloud
