#pragma once

// A device in its simplest form for tests of the server: a table of records with its own sync engine and network
// client, fed by fetches and offered to sends, working only when the test calls it.

#include "SyncKit/HttpCloud.h"
#include "SyncKit/SyncEngine.h"
#include "SyncKit/SyncEngineDelegate.h"

#include <memory>

class RecordDevice : public SyncKit::SyncEngineDelegate
{
public:
    static inline const SyncKit::RecordZoneID kZone{QStringLiteral("Vellora")};

    explicit RecordDevice(const SyncKit::CloudAccount &account) : m_cloud(SyncKit::CloudAccount{account.server, {}, {}})
    {
        SyncKit::SyncEngine::Configuration configuration;
        configuration.database = &m_cloud;
        configuration.delegate = this;
        configuration.accountFile.reset();
        configuration.account = account;
        configuration.automaticallySync = false;
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

    SyncKit::SyncEngine &engine() { return *m_engine; }

    QHash<SyncKit::RecordID, SyncKit::Record> records;

private:
    SyncKit::HttpCloud m_cloud;
    std::unique_ptr<SyncKit::SyncEngine> m_engine;
};
