#pragma once

#include "SyncKit/CloudAccount.h"
#include "SyncKit/PendingChange.h"

#include <QByteArray>
#include <QJsonObject>
#include <QHash>
#include <QByteArrayView>
#include <QList>
#include <QMap>
#include <QSet>

#include <functional>
#include <optional>

namespace simdjson::dom {
class element;
}

namespace SyncKit {

// What the engine remembers between runs: the changes still to send and how far it has fetched.
class SyncEngineState
{
public:
    // What the state remembers, as values, to be stored and handed back at the next start. Its coded form is
    // JSON text that it writes and reads itself; it reads back unchanged.
    struct Serialization
    {
        QList<PendingRecordZoneChange> recordZoneChanges;
        QList<PendingDatabaseChange> databaseChanges;
        QByteArray databaseToken;
        QMap<RecordZoneID, QByteArray> zoneTokens;
        std::optional<CloudAccount> account; // server and user, never the token
        bool sealed = false;                 // whether the account's records were last sent sealed
        QSet<RecordID> unopenedRecords;

        bool operator==(const Serialization &) const = default;

        // An indented JSON object.
        QByteArray toJson() const;
        // The same object, to be written as a value inside a larger text.
        QJsonObject toJsonObject() const;
        // Nothing when the text holds no readable state: a state that forgot something would lose changes.
        static std::optional<Serialization> fromJson(QByteArrayView text);
        // The same from a value of a larger text, such as the store file.
        static std::optional<Serialization> fromJson(simdjson::dom::element value);
    };

    SyncEngineState() = default;
    static SyncEngineState fromSerialization(const Serialization &serialization);
    // A copy that shares its lists with the state until either changes.
    Serialization serialization() const { return m_data; }

    const QList<PendingRecordZoneChange> &pendingRecordZoneChanges() const { return m_data.recordZoneChanges; }
    void add(const QList<PendingRecordZoneChange> &changes);
    void remove(const QList<PendingRecordZoneChange> &changes);

    const QList<PendingDatabaseChange> &pendingDatabaseChanges() const { return m_data.databaseChanges; }
    void add(const QList<PendingDatabaseChange> &changes);
    void remove(const QList<PendingDatabaseChange> &changes);

    QByteArray databaseChangeToken() const { return m_data.databaseToken; }
    void setDatabaseChangeToken(const QByteArray &token);
    QByteArray zoneChangeToken(const RecordZoneID &zone) const { return m_data.zoneTokens.value(zone); }
    void setZoneChangeToken(const RecordZoneID &zone, const QByteArray &token);
    void forgetZoneChangeToken(const RecordZoneID &zone);
    // Forgets how far anything was fetched: the next fetch starts from the beginning.
    void forgetChangeTokens();

    // The account the state belongs to (server and user, never the token); none before the first sign-in.
    const std::optional<CloudAccount> &account() const { return m_data.account; }
    void setAccount(const std::optional<CloudAccount> &account);

    // Whether the work under the account seals its records (its key was held): so that a key gained while the app
    // was not running is noticed at the next start.
    bool isSealed() const { return m_data.sealed; }
    void setSealed(bool sealed);

    // The records fetched whose latest version could not be opened (damaged, moved from another record, sealed with
    // another key, or sealed while this computer has no key): the device keeps its own copy of them.
    const QSet<RecordID> &unopenedRecords() const { return m_data.unopenedRecords; }
    void setUnopened(const RecordID &recordID, bool unopened);

    // Grows each time a change of the record is added, also when the same change was already waiting; so a send
    // that took the change can tell whether it was added again meanwhile. Not kept in the serialization.
    quint64 revision(const RecordID &recordID) const { return m_revisions.value(recordID); }

    // Told after every change of the state; the engine reports it as a state update.
    void setChangeHandler(std::function<void()> handler) { m_changed = std::move(handler); }

private:
    void changed();

    Serialization m_data;
    QHash<RecordID, quint64> m_revisions;
    quint64 m_nextRevision = 1;
    std::function<void()> m_changed;
};

} // namespace SyncKit
