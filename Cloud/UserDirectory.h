#pragma once

#include "Cloud/SqlConnection.h"

#include <QList>
#include <QString>

namespace Cloud {

// The server's accounts and their device tokens. A token is 32 random bytes given out once; only its SHA-256 hash is
// kept, so a copy of the database lets nobody in.
class UserDirectory
{
public:
    struct User
    {
        QString name;
        qint64 tokens = 0;
        qint64 zones = 0;
        qint64 records = 0; // live ones
        qint64 changes = 0;
        bool encrypted = false; // has a key box: its records are sealed
    };
    // A device token as `token list` shows it: its id is the start of its hash, which names it to `token revoke`.
    struct Token
    {
        QString user;
        QString id;
        QString created;
        QString label; // where it came from: "user add DATE", "linked DEVICE DATE"
    };
    static constexpr int kTokenIdLength = 8;
    struct Removed
    {
        qint64 zones = 0;
        qint64 records = 0; // tombstones included
        qint64 tokens = 0;
    };

    explicit UserDirectory(SqlConnection &connection) : m_connection(connection) {}

    // Makes the user when new and gives a new device token for it.
    std::variant<QString, StoreFailure> addDevice(const QString &name);
    // Makes and stores a new device token of the user, listed under the label; for use inside a write.
    QString storeNewToken(qint64 user, const QString &label);
    // The tokens of the user of that name, or of every user when the name is empty.
    std::variant<QList<Token>, StoreFailure> tokens(const QString &name = {});
    std::variant<QList<User>, StoreFailure> users();
    // Nothing when there is no such user.
    std::variant<std::optional<Removed>, StoreFailure> removeUser(const QString &name);
    // Revokes every token of the user of that name (and its unused sign-in codes), or else the one token given or
    // named by its id; the count revoked.
    std::variant<qint64, StoreFailure> revoke(const QString &nameOrToken);
    // The user of that name; nothing when there is none.
    std::variant<std::optional<qint64>, StoreFailure> userNamed(const QString &name);
    // The name of a user; nothing when there is none (any more).
    std::variant<std::optional<QString>, StoreFailure> nameOf(qint64 user);
    // The user a token belongs to; nothing for a token the server does not know.
    std::variant<std::optional<qint64>, StoreFailure> userForToken(const QString &token);

    // Changes whenever a token is revoked or a user removed, by any process on the database; empty before the first.
    std::variant<QString, StoreFailure> revocationMark();

    static bool isValidName(const QString &name);

private:
    void markRevocation();
    std::optional<qint64> idOf(const QString &name);

    SqlConnection &m_connection;
};

} // namespace Cloud
