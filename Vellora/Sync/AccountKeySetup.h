#pragma once

#include "SyncKit/CloudAccount.h"
#include "SyncKit/HttpCloud.h"

#include <QObject>

#include <functional>
#include <optional>

// The account key at sign-in, one flow for the command line and the Settings page: the token is checked and the
// account's key box fetched (lookUp); then the sync passphrase opens the key, or becomes the passphrase of the
// account's first key, or the recovery key opens it and a new passphrase replaces the old one. Only then is the
// account file written, with the key: a wrong passphrase writes nothing. The passphrase never leaves this
// computer and is never stored. Argon2id (about half a second and 256 MiB) runs on a worker thread: the caller's
// event loop goes on.
class AccountKeySetup : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        std::optional<QString> error; // why not, in words; then nothing was written
        QString recoveryKey;          // of a key made now, to show once
    };
    using Done = std::function<void(const Outcome &)>;

    AccountKeySetup(SyncKit::CloudAccount account, QString accountFile, QObject *parent = nullptr);

    // Checks the token (as sign-in always did) and fetches the account's key box. `done` gets why not, in words.
    void lookUp(std::function<void(const std::optional<QString> &reason)> done);
    // After lookUp: whether the account has a key already. When not, the passphrase given to signIn is chosen now
    // (ask for it twice).
    bool accountHasKey() const { return m_box.has_value(); }

    // Opens the account's key with the passphrase, or makes the account's first key wrapped with it.
    void signIn(const QString &passphrase, Done done);
    // Opens the account's key with its recovery key and wraps it with a new passphrase, replacing the old one.
    void recover(const QString &recoveryText, const QString &newPassphrase, Done done);

    // A new passphrase for the key this computer holds (the account's key given at construction): only the box on
    // the server changes, the account file and the other computers stay as they are. Needs no lookUp.
    void changePassphrase(const QString &newPassphrase, Done done);

private:
    void makeFirstKey(const QString &passphrase, Done done);
    void openKey(const SyncKit::KeyBox &box, const QString &passphrase, const QString &ifWrong, Done done);
    void replaceBox(const SyncKit::AccountKey &key, const QString &newPassphrase, Done done);
    void finish(const SyncKit::AccountKey &key, const QString &recoveryKey, const Done &done);

    SyncKit::CloudAccount m_account;
    QString m_accountFile;
    SyncKit::HttpCloud m_cloud;
    std::optional<SyncKit::KeyBox> m_box;
    bool m_lookedUp = false;
};
