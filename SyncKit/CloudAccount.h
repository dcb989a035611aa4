#pragma once

#include "SyncKit/AccountKey.h"

#include <QString>

#include <optional>

namespace SyncKit {

// The cloud account a device syncs with: the server's address, the user's name on that server, and the token
// that the server gave at sign-in. Two accounts are the same account when server and user are the same; a new
// token for the same user is a new sign-in of that account, not another account.
struct CloudAccount
{
    QString server;
    QString user;
    QString token;
    // The key that seals the account's records, once this computer holds it; none before the sync passphrase was
    // given (or for an account of an older version, whose records travel plain).
    std::optional<AccountKey> key = {};

    bool operator==(const CloudAccount &) const = default;
    bool isSameAccount(const CloudAccount &other) const { return server == other.server && user == other.user; }

    // The account file: $XDG_CONFIG_HOME/vellora-cloud/account.json. A JSON object with the non-empty texts
    // "server", "user" and "token", and the account key as Base64 under "key" once known; other keys are ignored. Written by the sign-in tool, read by the engine.
    static QString defaultFilePath();
    // Nothing when the file is missing or is not such an object.
    static std::optional<CloudAccount> readFile(const QString &path);
    // Writes atomically, readable by the user only. False when it could not be written.
    bool writeFile(const QString &path) const;
};

} // namespace SyncKit
