#include "Cloud/KeyBoxStore.h"

#include <QDateTime>
#include <QJsonDocument>

namespace Cloud {

using namespace SyncKit;
using namespace SyncKit::CloudProtocol;

std::optional<KeyBox> KeyBoxStore::boxIn(qint64 user)
{
    const auto text = m_connection.value(QStringLiteral("SELECT box FROM key_boxes WHERE user_id = ?"), {user});
    if (!text)
        return std::nullopt;
    auto box = KeyBox::fromJson(QJsonDocument::fromJson(text->toString().toUtf8()).object());
    // Only this server writes the column, after reading the box the same way: a box that no longer reads is damage.
    if (!box)
        throw StoreFailure{QStringLiteral("the key box of user %1 is damaged").arg(user)};
    return box;
}

bool KeyBoxStore::isSealed(qint64 user)
{
    return m_connection.value(QStringLiteral("SELECT 1 FROM key_boxes WHERE user_id = ?"), {user}).has_value();
}

std::variant<bool, StoreFailure> KeyBoxStore::remove(qint64 user)
{
    return m_connection.write([&] {
        return m_connection.run(QStringLiteral("DELETE FROM key_boxes WHERE user_id = ?"), {user}).numRowsAffected() >
               0;
    });
}

std::variant<std::optional<KeyBox>, StoreFailure> KeyBoxStore::box(qint64 user)
{
    return m_connection.read([&] { return boxIn(user); });
}

std::variant<KeyBoxStore::Stored, StoreFailure> KeyBoxStore::store(qint64 user, const KeyBoxRequest &request)
{
    return m_connection.write([&] {
        if (!m_connection.value(QStringLiteral("SELECT id FROM users WHERE id = ?") + m_connection.lockSuffix(),
                                {user}))
            throw StoreFailure{QStringLiteral("the user is gone"), true};
        const std::optional<KeyBox> current = boxIn(user);
        if (current.has_value() != request.replaces.has_value() || (current && current->salt != *request.replaces))
            return Stored::changed;
        if (current && current->keyCheck != request.box.keyCheck)
            return Stored::otherKey;
        m_connection.run(QStringLiteral("INSERT INTO key_boxes(user_id, box, changed) VALUES (?, ?, ?)"
                                        " ON CONFLICT(user_id) DO UPDATE SET box = excluded.box,"
                                        " changed = excluded.changed"),
                         {user, QString::fromUtf8(QJsonDocument(request.box.toJson()).toJson(QJsonDocument::Compact)),
                          QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)});
        return Stored::stored;
    });
}

} // namespace Cloud
