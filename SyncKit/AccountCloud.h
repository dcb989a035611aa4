#pragma once

#include "SyncKit/AccountFileWatcher.h"
#include "SyncKit/HttpCloud.h"

#include <memory>

namespace SyncKit {

// The cloud of whichever account the account file names: an HttpCloud for that account, made again when the file
// changes (sign-in, switch) and dropped when it goes away (sign-out), so that the push channel is always the
// current account's. A call for another account than the file's (one the engine began before it saw the change)
// goes to an HttpCloud of that account, which lives until its answer has come.
class AccountCloud : public CloudDatabase
{
    Q_OBJECT

public:
    explicit AccountCloud(const QString &accountFile = CloudAccount::defaultFilePath(), HttpCloud::Timing timing = {},
                          QObject *parent = nullptr);
    ~AccountCloud() override;

    // The HttpCloud of the file's account; none when signed out.
    HttpCloud *current() const { return m_current.get(); }
    bool isPushConnected() const { return m_current && m_current->isPushConnected(); }
    // The system's network is reachable again: see HttpCloud::networkReachable.
    void networkReachable()
    {
        if (m_current)
            m_current->networkReachable();
    }

    void modifyZones(const CloudAccount &account, const QList<RecordZoneID> &saves, const QList<RecordZoneID> &deletes,
                     Callback<ModifyZonesResult> done) override;
    void modifyRecords(const CloudAccount &account, const QList<Record> &saves, const QList<Record> &deletes,
                       Callback<ModifyRecordsResult> done) override;
    void fetchDatabaseChanges(const CloudAccount &account, const QByteArray &token,
                              Callback<DatabaseChanges> done) override;
    void fetchZoneChanges(const CloudAccount &account, const RecordZoneID &zoneID, const QByteArray &token, int limit,
                          Callback<ZoneChanges> done) override;

signals:
    // The push channel of the file's account opened, or closed or failed to open.
    void pushConnectedChanged(bool connected);

private:
    using CloudPointer = std::shared_ptr<HttpCloud>;

    void follow();
    CloudPointer cloudFor(const CloudAccount &account);
    // The answer keeps its cloud alive: a cloud dropped while a request is out would never answer it, and the
    // engine would wait for ever.
    template<typename T> Callback<T> keeping(CloudPointer cloud, Callback<T> done)
    {
        return [cloud = std::move(cloud), done = std::move(done)](CloudResult<T> result) { done(std::move(result)); };
    }

    AccountFileWatcher m_watcher;
    HttpCloud::Timing m_timing;
    CloudPointer m_current;
};

} // namespace SyncKit
