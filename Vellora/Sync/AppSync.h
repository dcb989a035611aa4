#pragma once

#include "Vellora/Sync/AppStore.h"
#include "Vellora/Sync/SyncStatus.h"

#include "SyncKit/AccountCloud.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

// Sync with the server of the signed-in account, for the app and for `vellora sync`: the cloud that follows the
// account file, the store's engine set up with it, and the last round's time and result kept in the status file.
class AppSync : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const std::optional<QString> &reason)>;

    // How long a sign-out waits for what is still to be sent, as a command waits to send its change.
    static constexpr std::chrono::milliseconds kSendBeforeSignOut{1000};

    struct SignOut
    {
        QString user;                 // whose account it was
        std::optional<QString> error; // why the account file could not be removed: then still signed in
        qsizetype unsent = 0;         // changes that had not reached the server and left with the account's items
        QString why;                  // why they had not
    };

    // Without `push`, for a command that runs one round and ends: no push channel is opened.
    explicit AppSync(QString accountFile = SyncKit::CloudAccount::defaultFilePath(), bool push = true,
                     QObject *parent = nullptr);

    // How the store makes its engine: with this cloud and account file.
    SyncSetup setup(bool automaticallySync = true);
    // Follows the store's engine: every round it ends is written down as the last sync.
    void attach(AppStore &store);

    const QString &accountFile() const { return m_accountFile; }
    std::optional<SyncKit::CloudAccount> account() const;
    std::optional<SyncStatus> lastSync() const;
    // The state in one line: signed out, never synced, synced N minutes ago, or not connected since when and why.
    QString statusLine() const;
    // Why the last write of the status file failed, if it did.
    std::optional<QString> statusError() const { return m_statusError; }

    // One full round now: send everything queued, then fetch everything new. `done` gets none when the round
    // ended with nothing left to send, else the reason in words.
    void syncNow(Done done);

    // Signs out the way the window and the command line both do: what waits to be sent under the account goes to
    // its server first, for at most `wait`; then the account file goes and the store's engine follows at once (the
    // account's items leave this computer, the server keeps them; what made it to no server leaves with them).
    void signOut(std::chrono::milliseconds wait, std::function<void(const SignOut &)> done);

    // Removes the account file and the last sync noted beside it, without sending or following: for a store that
    // another process has open. Why not, when it could not.
    std::optional<QString> removeAccount();

    // The system's network is reachable again: the push channel reconnects without its back-off, and what waits is
    // sent and a fetch runs at once. Called on the system's report when it has a way to tell (QNetworkInformation).
    void networkReachable();

    // Asks the account's server whose token it is: none when it is the account's user's, else why not in words
    // ("the server refused this token", "this token is anna's, not bob's", "the server cannot be reached…").
    // `done` is not called once `context` is gone.
    static void checkAccount(const SyncKit::CloudAccount &account, QObject *context,
                             std::function<void(const std::optional<QString> &reason)> done);
    // How many records from the server the engine could not open (damaged, moved, or sealed with another key): it
    // keeps this computer's copies of them.
    static qsizetype unopenedRecords(const SyncKit::SyncEngineState &state);
    qsizetype unopenedRecords() const;

    // A failure in words a person can act on.
    static QString describe(const SyncKit::CloudError &error);

signals:
    void statusChanged();

private:
    void record(const std::optional<SyncKit::CloudError> &error);
    void pushConnectedChanged(bool connected);
    void writeStatus(const SyncStatus &status);
    void watchNetwork();

    QString m_accountFile;
    SyncKit::AccountCloud m_cloud;
    AppStore *m_store = nullptr;
    std::optional<QString> m_statusError;
    bool m_pushDown = false; // the push channel failed or closed and has not opened again
};
