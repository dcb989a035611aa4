#pragma once

#include "SyncKit/CloudAccount.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <variant>

// A one-time link that signs another device in: the page's address with a code the account's server gave.
struct DeviceLink
{
    QString address; // SERVER/#link=CODE: the code rides in the fragment, which no browser sends
    QString code;
    QDateTime expiresAt;

    static QString pageAddress(const QString &server, const QString &code);
    // Asks the account's server for a code with the account's token; words when it cannot. `done` may be called
    // after the caller is gone only if `context` outlives it: it is not called once `context` is destroyed.
    static void ask(const SyncKit::CloudAccount &account, QObject *context,
                    std::function<void(const std::variant<DeviceLink, QString> &)> done);
};

// A text as a QR code (medium error correction), drawn by whoever shows it.
class QrCode
{
public:
    // Nothing when the text is too long for a QR code.
    static std::optional<QrCode> encode(const QString &text);

    int size() const { return m_size; } // modules per side, without the quiet zone
    bool isDark(int x, int y) const { return m_dark[y * m_size + x]; }
    // Two rows of modules per line in half blocks, with explicit black and white so that a dark terminal draws it
    // the right way round, and the quiet zone around it.
    QString terminalText() const;

    static constexpr int kQuietZone = 2;

private:
    int m_size = 0;
    QList<bool> m_dark;
};
