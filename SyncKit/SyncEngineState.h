#pragma once

#include "SyncKit/CloudAccount.h"
#include "SyncKit/PendingChange.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>

#include <functional>
#include <optional>

namespace SyncKit {

// What the engine remembers between runs: the changes still to send and how far it has fetched.
class SyncEngineState
{
public:
    // The state in a form that can be stored and handed back at the next start. It reads back unchanged:
    // the stored object is kept as it was read.
    struct Serialization
    {
        QJsonObject json;

        bool operator==(const Serialization &) const = default;
        // An object that a state can be read from, or nothing.
        static std::optional<Serialization> fromJson(const QJsonValue &value);
    };

    SyncEngineState() = default;
    // Nothing when the serialization holds no readable state.
    static std::optional<SyncEngineState> fromSerialization(const Serialization &serialization);
    Serialization serialization() const;

    const QList<PendingRecordZoneChange> &pendingRecordZoneChanges() const { return m_recordZoneChanges; }
    void add(const QList<PendingRecordZoneChange> &changes);
    void remove(const QList<PendingRecordZoneChange> &changes);

    const QList<PendingDatabaseChange> &pendingDatabaseChanges() const { return m_databaseChanges; }
    void add(const QList<PendingDatabaseChange> &changes);
    void remove(const QList<PendingDatabaseChange> &changes);

    QByteArray databaseChangeToken() const { return m_databaseToken; }
    void setDatabaseChangeToken(const QByteArray &token);
    QByteArray zoneChangeToken(const RecordZoneID &zone) const { return m_zoneTokens.value(zone); }
    void setZoneChangeToken(const RecordZoneID &zone, const QByteArray &token);
    void forgetZoneChangeToken(const RecordZoneID &zone);
    // Forgets how far anything was fetched: the next fetch starts from the beginning.
    void forgetChangeTokens();

    // The account the state belongs to (server and user, never the token); none before the first sign-in.
    const std::optional<CloudAccount> &account() const { return m_account; }
    void setAccount(const std::optional<CloudAccount> &account);

    // Grows each time a change of the record is added, also when the same change was already waiting; so a send
    // that took the change can tell whether it was added again meanwhile. Not kept in the serialization.
    quint64 revision(const RecordID &recordID) const { return m_revisions.value(recordID); }

    // Told after every change of the state; the engine reports it as a state update.
    void setChangeHandler(std::function<void()> handler) { m_changed = std::move(handler); }

private:
    void changed();

    QList<PendingRecordZoneChange> m_recordZoneChanges;
    QList<PendingDatabaseChange> m_databaseChanges;
    QByteArray m_databaseToken;
    QMap<RecordZoneID, QByteArray> m_zoneTokens;
    std::optional<CloudAccount> m_account;
    QHash<RecordID, quint64> m_revisions;
    quint64 m_nextRevision = 1;
    std::function<void()> m_changed;
};

} // namespace SyncKit
