#include "SyncKit/AccountCloud.h"

namespace SyncKit {

namespace {

// Deleted from the event loop: the last reference may go inside one of the cloud's own answers.
std::shared_ptr<HttpCloud> makeCloud(const CloudAccount &account, HttpCloud::Timing timing)
{
    return std::shared_ptr<HttpCloud>(new HttpCloud(account, timing), [](HttpCloud *cloud) { cloud->deleteLater(); });
}

} // namespace

AccountCloud::AccountCloud(const QString &accountFile, HttpCloud::Timing timing, QObject *parent)
    : CloudDatabase(parent), m_watcher(accountFile), m_timing(timing)
{
    connect(&m_watcher, &AccountFileWatcher::accountChanged, this, &AccountCloud::follow);
    follow();
}

AccountCloud::~AccountCloud()
{
    if (m_current)
        m_current->disconnect(this);
}

void AccountCloud::follow()
{
    const std::optional<CloudAccount> &account = m_watcher.account();
    if (m_current && account && m_current->account() == *account)
        return;
    if (m_current)
        m_current->disconnect(this);
    m_current.reset();
    if (!account)
        return;
    m_current = makeCloud(*account, m_timing);
    connect(m_current.get(), &CloudDatabase::databaseChanged, this, &CloudDatabase::databaseChanged);
    connect(m_current.get(), &HttpCloud::pushConnectedChanged, this, &AccountCloud::pushConnectedChanged);
}

AccountCloud::CloudPointer AccountCloud::cloudFor(const CloudAccount &account)
{
    if (m_current && m_current->account() == account)
        return m_current;
    // The file may have changed a moment ago without its notice having come yet.
    m_watcher.reload();
    if (m_current && m_current->account() == account)
        return m_current;
    return makeCloud(account, m_timing);
}

void AccountCloud::modifyZones(const CloudAccount &account, const QList<RecordZoneID> &saves,
                               const QList<RecordZoneID> &deletes, Callback<ModifyZonesResult> done)
{
    CloudPointer cloud = cloudFor(account);
    cloud->modifyZones(account, saves, deletes, keeping(cloud, std::move(done)));
}

void AccountCloud::modifyRecords(const CloudAccount &account, const QList<Record> &saves,
                                 const QList<Record> &deletes, Callback<ModifyRecordsResult> done)
{
    CloudPointer cloud = cloudFor(account);
    cloud->modifyRecords(account, saves, deletes, keeping(cloud, std::move(done)));
}

void AccountCloud::fetchDatabaseChanges(const CloudAccount &account, const QByteArray &token,
                                        Callback<DatabaseChanges> done)
{
    CloudPointer cloud = cloudFor(account);
    cloud->fetchDatabaseChanges(account, token, keeping(cloud, std::move(done)));
}

void AccountCloud::fetchZoneChanges(const CloudAccount &account, const RecordZoneID &zoneID, const QByteArray &token,
                                    int limit, Callback<ZoneChanges> done)
{
    CloudPointer cloud = cloudFor(account);
    cloud->fetchZoneChanges(account, zoneID, token, limit, keeping(cloud, std::move(done)));
}

} // namespace SyncKit
