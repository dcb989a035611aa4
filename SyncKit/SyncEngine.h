#pragma once

#include "SyncKit/AccountFileWatcher.h"
#include "SyncKit/CloudAccount.h"
#include "SyncKit/CloudDatabase.h"
#include "SyncKit/RecordZoneChangeBatch.h"
#include "SyncKit/SyncEngineEvent.h"
#include "SyncKit/SyncEngineState.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace SyncKit {

class SyncEngineDelegate;

// Carries records between a local store and a cloud database. It keeps the queue of changes to send in its
// state; the store adds to that queue after every change. It decides by itself when to work, on the main
// thread's event loop: a fetch at start, after an account change and at once when the server tells of a change; a
// send at once after a change is queued, always before a fetch, so that a fetch never meets a local change that was
// not offered to the server first; network failures are tried again with growing pauses. When the
// server's data was restored from a backup, it starts over: the delegate queues everything it holds, the engine
// sends it and fetches everything.
//
// Every change of the state is reported to the delegate as a state update: at once when the state changes
// outside the engine's own work (so a queued change reaches the store file before the next statement runs),
// and once at the end of each piece of the engine's work otherwise.
class SyncEngine : public QObject
{
    Q_OBJECT

public:
    using State = SyncEngineState;
    using Completion = std::function<void(const std::optional<CloudError> &)>;

    struct Timing
    {
        // A change reaches the user's other computers within a quarter second: nothing waits but the round trips.
        // A round begins at the next turn of the event loop, so the changes of one turn (a new day, a pasted list)
        // go in one request; what is queued while a request is out goes in the next, right after its answer.
        std::chrono::milliseconds sendDelay{0};     // after a change is queued while nothing is under way
        std::chrono::milliseconds fetchDelay{0};    // after the server tells of a change
        std::chrono::milliseconds retryDelay{2000}; // after the first network failure; doubles with each further one
        // A change that failed is tried again within this while the server answers; a server whose push channel
        // comes back ends the pause at once.
        std::chrono::milliseconds maximumRetryDelay{30000};
    };

    struct Configuration
    {
        CloudDatabase *database = nullptr; // none: nothing is ever sent or fetched, changes stay queued
        std::optional<State::Serialization> stateSerialization;
        SyncEngineDelegate *delegate = nullptr;

        // Where the account comes from: this file, watched for changes; when none, `account` and setAccount.
        std::optional<QString> accountFile = CloudAccount::defaultFilePath();
        std::optional<CloudAccount> account;
        // Off: the engine works only when fetchChanges, sendChanges or syncChanges is called.
        bool automaticallySync = true;
        Timing timing;
        int requestSize = 400; // changes sent in one request
        int fetchLimit = 400;  // records fetched in one request
    };

    explicit SyncEngine(Configuration configuration, QObject *parent = nullptr);
    ~SyncEngine() override;

    State &state() { return m_state; }
    const State &state() const { return m_state; }

    // The signed-in account, if any, as far as the engine has looked.
    const std::optional<CloudAccount> &account() const { return m_account; }
    // Gives the account directly; only for an engine made without an account file.
    void setAccount(const std::optional<CloudAccount> &account);
    // Looks at the account now instead of at the next turn of the event loop, and tells the delegate of a change:
    // a command that runs no event loop then sees a sign-out before it changes anything. Also without a database.
    void followAccount();

    // Work now instead of on the engine's own schedule. With a database that answers at once, the work is done
    // when the call returns. `done` hears of the first failure, or of none.
    void fetchChanges(Completion done = {});
    void sendChanges(SendChangesOptions options = {}, Completion done = {});
    // What the engine's schedule does: send everything waiting, then fetch when nothing is left waiting.
    void syncChanges(Completion done = {});

    bool isWorking() const { return m_running; }
    // Whether the engine's own schedule holds work to do.
    bool isScheduled() const { return m_timer.isActive(); }

signals:
    // A piece of work (a scheduled round or a call) ended, with its first failure or none: what a status line
    // shows as the last sync and its result.
    void workFinished(const std::optional<SyncKit::CloudError> &error);

private:
    struct Job
    {
        bool send = false;
        bool fetch = false;
        SendChangesContext context;
        Completion done;
    };
    class Work;
    using Next = std::function<void(const std::optional<CloudError> &)>;

    void start();
    void checkAccount();
    void abandonWork();
    std::optional<CloudAccount> currentAccount() const;
    void deliver(const SyncEngineEvent &event);
    void flushStateUpdate();
    void stateChanged();
    bool hasPendingChanges(const SendChangesScope &scope) const;

    void run(Job job);
    void perform(Job job, bool startedOver);
    void startOver(Job job);
    void finish(const Job &job, const std::optional<CloudError> &error);
    void scheduleRound(std::chrono::milliseconds delay);
    void roundDue();

    void sendAll(const SendChangesContext &context, Next next);
    void sendDatabaseChanges(const SendChangesScope &scope, Next next);
    void sendRecordPass(const SendChangesContext &context, int pass, Next next);
    void sendRequest(std::shared_ptr<const QList<PendingRecordZoneChange>> changes,
                     std::shared_ptr<const QHash<RecordID, Record>> records,
                     std::shared_ptr<const QHash<RecordID, quint64>> revisions, qsizetype offset,
                     const SendChangesScope &scope, Next next);
    void removeUnlessQueuedAgain(const QList<PendingRecordZoneChange> &changes,
                                 const QHash<RecordID, quint64> &revisions);

    void fetchAll(Next next);
    void fetchZones(QList<RecordZoneID> zones, Next next);

    // The answer to a request of the work under way, or nothing when the account changed since it went out: what
    // one account's server said is never applied under another.
    template<typename Handler> auto answerOf(Handler handler)
    {
        return
            [self = QPointer<SyncEngine>(this), generation = m_generation, handler = std::move(handler)](auto result) {
                if (self && self->m_generation == generation)
                    handler(std::move(result));
            };
    }

    Configuration m_configuration;
    State m_state;
    std::unique_ptr<AccountFileWatcher> m_accountWatcher;
    std::optional<CloudAccount> m_account;
    std::optional<CloudAccount> m_givenAccount;
    bool m_accountRejected = false;
    std::optional<Job> m_job;                  // the work under way
    std::optional<CloudAccount> m_workAccount; // the account it began under; every request of it goes there
    quint64 m_generation = 0;                  // grows with each change of account

    int m_depth = 0;
    bool m_stateDirty = false;
    bool m_running = false;
    QList<Job> m_waiting;
    bool m_fetchDue = true;
    bool m_roundAgain = false;
    quint64 m_changeNotices = 0; // the server's word of a change, counted so that a fetch under way can tell of one
    bool m_passLimitReached = false;
    int m_failures = 0;
    QDeadlineTimer m_backOffUntil;
    QTimer m_timer;
};

} // namespace SyncKit
