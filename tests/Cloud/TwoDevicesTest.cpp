// Two devices, each with its own sync engine and network client, on one vellora-cloud server: a change on one
// reaches the other through the server's push, without the other polling.
#include "SyncKit/HttpCloud.h"
#include "SyncKit/SyncEngine.h"
#include "SyncKit/SyncEngineDelegate.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/WaitFor.h"

#include <gtest/gtest.h>

using namespace SyncKit;
using namespace std::chrono_literals;

namespace {

const RecordZoneID kZone{QStringLiteral("Vellora")};

// A device's local side: a table of records, fed by fetches and offered to sends.
class Device : public SyncEngineDelegate
{
public:
    Device(const CloudAccount &account) : m_cloud(account, quickReconnects())
    {
        SyncEngine::Configuration configuration;
        configuration.database = &m_cloud;
        configuration.delegate = this;
        configuration.accountFile.reset();
        configuration.account = account;
        configuration.timing = {5ms, 5ms, 50ms, 200ms};
        m_engine = std::make_unique<SyncEngine>(std::move(configuration));
        m_engine->state().add(QList{PendingDatabaseChange::saveZone(kZone)});
    }

    void handleEvent(const SyncEngineEvent &event, SyncEngine &) override
    {
        if (const auto *fetched = std::get_if<SyncEvent::FetchedRecordZoneChanges>(&event)) {
            for (const Record &record : fetched->modifications)
                records.insert(record.recordID(), record);
        }
        if (const auto *sent = std::get_if<SyncEvent::SentRecordZoneChanges>(&event)) {
            for (const Record &saved : sent->savedRecords)
                records.insert(saved.recordID(), saved);
        }
        if (std::holds_alternative<SyncEvent::DidFetchChanges>(event))
            ++fetches;
    }

    std::optional<RecordZoneChangeBatch> nextRecordZoneChangeBatch(const SendChangesContext &context,
                                                                   SyncEngine &engine) override
    {
        QList<PendingRecordZoneChange> changes;
        for (const auto &change : engine.state().pendingRecordZoneChanges()) {
            if (context.options.scope.contains(change))
                changes.append(change);
        }
        if (changes.isEmpty())
            return std::nullopt;
        return RecordZoneChangeBatch(changes, [this](const RecordID &id) -> std::optional<Record> {
            return records.contains(id) ? std::optional(records.value(id)) : std::nullopt;
        });
    }

    void add(const QString &name, const QString &title)
    {
        Record record(QStringLiteral("DayItem"), RecordID{name, kZone});
        record.setValue("title", title);
        records.insert(record.recordID(), record);
        m_engine->state().add(QList{PendingRecordZoneChange::save(record.recordID())});
    }

    std::optional<QString> title(const QString &name) const
    {
        return records.value(RecordID{name, kZone}).stringValue("title");
    }

    bool pushConnected() const { return m_cloud.isPushConnected(); }

    QHash<RecordID, Record> records;
    int fetches = 0;

private:
    static HttpCloud::Timing quickReconnects()
    {
        HttpCloud::Timing timing;
        timing.pushRetryDelay = 50ms;
        return timing;
    }

    HttpCloud m_cloud;
    std::unique_ptr<SyncEngine> m_engine;
};

} // namespace

TEST(TwoDevicesTest, AChangeOnOneReachesTheOtherThroughPush)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    Device laptop(CloudAccount{server.url(), "anna", server.addUser("anna")});
    Device desktop(CloudAccount{server.url(), "anna", server.addUser("anna")});
    ASSERT_TRUE(waitFor([&] { return laptop.pushConnected() && desktop.pushConnected() && desktop.fetches > 0; }));

    laptop.add("A", "written on the laptop");
    ASSERT_TRUE(waitFor([&] { return desktop.title("A") == "written on the laptop"; }));
    desktop.add("B", "written on the desktop");
    ASSERT_TRUE(waitFor([&] { return laptop.title("B") == "written on the desktop"; }));
}
