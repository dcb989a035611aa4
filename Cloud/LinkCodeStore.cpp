#include "Cloud/LinkCodeStore.h"

#include "SyncKit/AccountKey.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <cstring>

namespace Cloud {

namespace {

// Used and expired codes are kept this long, so that a late try is told what happened rather than "unknown".
constexpr qint64 kKeptAfterExpiryMs = 24 * 3600 * 1000;
constexpr int kMaxDeviceChars = 40;

QString hashOf(const QString &normalizedCode)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(normalizedCode.toLatin1(), QCryptographicHash::Sha256).toHex());
}

QString newCode()
{
    constexpr int kLetters = sizeof(SyncKit::kReadableAlphabet) - 1;
    QString code;
    for (int i = 0; i < LinkCodeStore::kCodeLength; ++i)
        code += QLatin1Char(SyncKit::kReadableAlphabet[QRandomGenerator::system()->bounded(kLetters)]);
    return code;
}

QString grouped(const QString &code)
{
    return code.left(4) + QLatin1Char('-') + code.mid(4, 4) + QLatin1Char('-') + code.mid(8);
}

} // namespace

std::optional<QString> LinkCodeStore::normalized(const QString &text)
{
    QString code;
    for (const QChar c : text.toUpper()) {
        if (c == QLatin1Char('-') || c.isSpace())
            continue;
        if (c.unicode() == 0 || c.unicode() >= 128 || !std::strchr(SyncKit::kReadableAlphabet, char(c.unicode())))
            return std::nullopt;
        code += c;
    }
    if (code.size() != kCodeLength)
        return std::nullopt;
    return code;
}

QString LinkCodeStore::tokenLabel(const QString &device, const QDateTime &when)
{
    QString words;
    for (const QChar c : device.simplified()) {
        if (c.isPrint())
            words += c;
    }
    words = words.left(kMaxDeviceChars).trimmed();
    return QStringLiteral("linked %1 %2")
        .arg(words.isEmpty() ? QStringLiteral("device") : words, when.toUTC().toString(u"yyyy-MM-dd hh:mm 'UTC'"));
}

void LinkCodeStore::forget(qint64 user)
{
    m_connection.run(QStringLiteral("DELETE FROM link_codes WHERE user_id = ?"), {user});
}

std::variant<LinkCodeStore::Issued, StoreFailure> LinkCodeStore::issue(qint64 user, int lifetimeSeconds)
{
    return m_connection.write([&] {
        if (!m_connection.value(QStringLiteral("SELECT id FROM users WHERE id = ?") + m_connection.lockSuffix(),
                                {user}))
            throw StoreFailure{QStringLiteral("the user is gone"), true};
        const QDateTime now = QDateTime::currentDateTimeUtc();
        m_connection.run(QStringLiteral("DELETE FROM link_codes WHERE expires < ?"),
                         {now.toMSecsSinceEpoch() - kKeptAfterExpiryMs});
        m_connection.run(QStringLiteral("DELETE FROM link_codes WHERE user_id = ? AND used IS NULL AND hash NOT IN"
                                        " (SELECT hash FROM link_codes WHERE user_id = ? AND used IS NULL"
                                        "  ORDER BY created DESC, hash LIMIT ?)"),
                         {user, user, kMaxUnusedCodes - 1});
        const QString code = newCode();
        // On a whole second, so that the time the answer states is the one that holds.
        QDateTime expires = now.addSecs(lifetimeSeconds);
        expires.setTime(QTime(expires.time().hour(), expires.time().minute(), expires.time().second()));
        m_connection.run(
            QStringLiteral("INSERT INTO link_codes(hash, user_id, created, expires) VALUES (?, ?, ?, ?)"),
            {hashOf(code), user, now.toMSecsSinceEpoch(), expires.toMSecsSinceEpoch()});
        return Issued{grouped(code), expires};
    });
}

std::variant<LinkCodeStore::Redeemed, StoreFailure> LinkCodeStore::redeem(const QString &code, const QString &device)
{
    const auto normal = normalized(code);
    if (!normal)
        return Redeemed{Refusal::unknown, {}, {}};
    const QString hash = hashOf(*normal);
    return m_connection.write([&]() -> Redeemed {
        QSqlQuery found = m_connection.run(QStringLiteral("SELECT user_id, expires, used FROM link_codes WHERE hash = ?") +
                                               m_connection.lockSuffix(),
                                           {hash});
        if (!found.next())
            return {Refusal::unknown, {}, {}};
        const qint64 user = found.value(0).toLongLong();
        const qint64 expires = found.value(1).toLongLong();
        const bool used = !found.value(2).isNull();
        found.finish();
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (used)
            return {Refusal::used, {}, {}};
        if (expires <= now.toMSecsSinceEpoch())
            return {Refusal::expired, {}, {}};
        // The row lock (PostgreSQL) or the write lock (SQLite) is held: only one redeem gets here for a code.
        if (m_connection.run(QStringLiteral("UPDATE link_codes SET used = ? WHERE hash = ? AND used IS NULL"),
                             {now.toMSecsSinceEpoch(), hash})
                .numRowsAffected() != 1)
            return {Refusal::used, {}, {}};
        const auto name = m_connection.value(QStringLiteral("SELECT name FROM users WHERE id = ?"), {user});
        if (!name)
            return {Refusal::unknown, {}, {}};
        return {std::nullopt, name->toString(), m_users.storeNewToken(user, tokenLabel(device, now))};
    });
}

} // namespace Cloud
