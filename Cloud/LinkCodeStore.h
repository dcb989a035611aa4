#pragma once

#include "Cloud/SqlConnection.h"
#include "Cloud/UserDirectory.h"

#include <QDateTime>

namespace Cloud {

// One-time sign-in codes: a signed-in device asks for one, another device trades it for a token of its own. Only a
// hash of each code is kept, with its user, its expiry and when it was used.
class LinkCodeStore
{
public:
    // Asking again drops the oldest unused code past this many.
    static constexpr int kMaxUnusedCodes = 3;
    static constexpr int kCodeLength = 12;

    struct Issued
    {
        QString code; // "ABCD-EFGH-JKMN"
        QDateTime expiresAt;
    };
    enum class Refusal { used, expired, unknown };
    struct Redeemed
    {
        std::optional<Refusal> refusal;
        QString user;
        QString token;
    };

    LinkCodeStore(SqlConnection &connection, UserDirectory &users) : m_connection(connection), m_users(users) {}

    std::variant<Issued, StoreFailure> issue(qint64 user, int lifetimeSeconds);
    // Marks the code used and makes the new device token in one transaction: two devices racing for one code get
    // one token between them.
    std::variant<Redeemed, StoreFailure> redeem(const QString &code, const QString &device);
    // Drops every code of the user; for use inside a write.
    void forget(qint64 user);

    // The code's letters, upper case without dashes or spaces; nothing when the text cannot be a code.
    static std::optional<QString> normalized(const QString &text);
    // The name the new token is listed under: "linked DEVICE DATE", the device's words kept short and printable.
    static QString tokenLabel(const QString &device, const QDateTime &when);

private:
    SqlConnection &m_connection;
    UserDirectory &m_users;
};

} // namespace Cloud
