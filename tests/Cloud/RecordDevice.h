#pragma once

// A device in its simplest form for tests of the cloud: a table of records with its own sync engine and network
// client, fed by fetches and offered to sends.

#include "SyncKit/HttpCloud.h"
#include "SyncKit/SyncEngine.h"
#include "SyncKit/SyncEngineDelegate.h"

#include <memory>

class RecordDevice : public SyncKit::SyncEngineDelegate
{
public:
    static inline const SyncKit::RecordZoneID kZone{QStringLiteral("Vellora")};

    // Automatic: the engine works by itself and hears of changes through the push channel; otherwise the test
    // calls it and no push channel is opened.
    RecordDevice(const SyncKit::CloudAccount &account, bool automatic)
        : m_cloud(automatic ? account : SyncKit::CloudAccount{account.server, {}, {}}, timing())
    {
        using namespace std::chrono_literals;
        SyncKit::SyncEngine::Configuration configuration;
        configuration.database = &m_cloud;
        configuration.delegate = this;
        configuration.accountFile.reset();
        configuration.account = account;
        configuration.automaticallySync = automatic;
        configuration.timing = {5ms, 5ms, 50ms, 200ms};
        m_engine = std::make_unique<SyncKit::SyncEngine>(std::move(configuration));
        m_engine->state().add(QList{SyncKit::PendingDatabaseChange::saveZone(kZone)});
    }

    void handleEvent(const SyncKit::SyncEngineEvent &event, SyncKit::SyncEngine &) override
    {
        using namespace SyncKit;
        if (const auto *fetched = std::get_if<SyncEvent::FetchedRecordZoneChanges>(&event)) {
            for (const Record &record : fetched->modifications)
                records.insert(record.recordID(), record);
            for (const RecordDeletion &deletion : fetched->deletions)
                records.remove(deletion.recordID);
        }
        if (const auto *sent = std::get_if<SyncEvent::SentRecordZoneChanges>(&event)) {
            for (const Record &saved : sent->savedRecords)
                records.insert(saved.recordID(), saved);
        }
        if (std::holds_alternative<SyncEvent::DidFetchChanges>(event))
            ++fetches;
    }

    std::optional<SyncKit::RecordZoneChangeBatch> nextRecordZoneChangeBatch(const SyncKit::SendChangesContext &context,
                                                                            SyncKit::SyncEngine &engine) override
    {
        QList<SyncKit::PendingRecordZoneChange> changes;
        for (const auto &change : engine.state().pendingRecordZoneChanges()) {
            if (context.options.scope.contains(change))
                changes.append(change);
        }
        if (changes.isEmpty())
            return std::nullopt;
        return SyncKit::RecordZoneChangeBatch(changes, [this](const SyncKit::RecordID &id) {
            return records.contains(id) ? std::optional(records.value(id)) : std::nullopt;
        });
    }

    // New records of these names and titles, queued in one change of the engine's state.
    void add(const QList<std::pair<QString, QString>> &namesAndTitles)
    {
        QList<SyncKit::PendingRecordZoneChange> changes;
        for (const auto &[name, title] : namesAndTitles) {
            SyncKit::Record record(QStringLiteral("DayItem"), SyncKit::RecordID{name, kZone});
            record.setValue("title", title);
            records.insert(record.recordID(), record);
            changes.append(SyncKit::PendingRecordZoneChange::save(record.recordID()));
        }
        m_engine->state().add(changes);
    }
    void add(const QString &name, const QString &title) { add({{name, title}}); }

    std::optional<QString> title(const QString &name) const
    {
        return records.value(SyncKit::RecordID{name, kZone}).stringValue("title");
    }

    SyncKit::SyncEngine &engine() { return *m_engine; }
    bool pushConnected() const { return m_cloud.isPushConnected(); }

    QHash<SyncKit::RecordID, SyncKit::Record> records;
    int fetches = 0;

private:
    static SyncKit::HttpCloud::Timing timing()
    {
        SyncKit::HttpCloud::Timing timing;
        timing.pushRetryDelay = std::chrono::milliseconds(50);
        timing.transferTimeout = std::chrono::seconds(10);
        return timing;
    }

    SyncKit::HttpCloud m_cloud;
    std::unique_ptr<SyncKit::SyncEngine> m_engine;
};
