#include "SyncKit/RecordSealing.h"

#include <QSet>

namespace SyncKit {

using RecordSeal::Kind;

RecordSealing::RecordSealing(const std::optional<AccountKey> &key, SyncEngineState &state)
    : m_key(key)
    , m_state(state)
{
}

Record RecordSealing::sealed(const Record &record, Kind kind) const
{
    // A tombstone without a type carries nothing to hide and deletes whatever the tag.
    if (!m_key || (kind == Kind::tombstone && record.recordType().isEmpty()))
        return record;
    return RecordSeal::seal(record, *m_key, kind);
}

std::optional<Record> RecordSealing::opened(const Record &record, Kind kind)
{
    const RecordID &recordID = record.recordID();
    if (!RecordSeal::isSealed(record)) {
        if (m_key && kind == Kind::save)
            m_plain.append(PendingRecordZoneChange::save(recordID));
        m_state.setUnopened(recordID, false);
        return record;
    }
    auto result = m_key ? RecordSeal::open(record, *m_key, kind) : std::nullopt;
    m_state.setUnopened(recordID, !result);
    return result;
}

QList<Record> RecordSealing::opened(const QList<Record> &records)
{
    QList<Record> result;
    result.reserve(records.size());
    for (const Record &record : records) {
        if (auto open = opened(record, Kind::save))
            result.append(std::move(*open));
    }
    return result;
}

QList<RecordDeletion> RecordSealing::opened(const QList<RecordDeletion> &deletions)
{
    QList<RecordDeletion> result;
    result.reserve(deletions.size());
    for (RecordDeletion deletion : deletions) {
        if (deletion.tombstone.fields().isEmpty()) {
            m_state.setUnopened(deletion.recordID, false);
        } else if (auto tombstone = opened(deletion.tombstone, Kind::tombstone)) {
            deletion.tombstone = std::move(*tombstone);
        } else {
            continue;
        }
        result.append(std::move(deletion));
    }
    return result;
}

CloudError RecordSealing::opened(const CloudError &error)
{
    const auto &server = error.serverRecord();
    if (!server || server->fields().isEmpty())
        return error;
    // A save over a deleted record meets the tombstone; any other conflict the server's record.
    const Kind kind = error.code() == CloudError::Code::unknownItem ? Kind::tombstone : Kind::save;
    if (auto record = opened(*server, kind))
        return CloudError(error.code(), error.message(), std::move(record));
    // The device's copy goes over what it cannot read, once: a server record that says nothing, so that any change
    // made here wins against it; a tombstone that says nothing, so that the item is made again.
    if (kind == Kind::tombstone)
        return CloudError(error.code(), error.message());
    Record bare(server->recordType(), server->recordID());
    bare.setSystemFields(server->recordChangeTag(), server->creationDate(), server->modificationDate());
    return CloudError(error.code(), error.message(), std::move(bare));
}

Record RecordSealing::saved(const Record &sent, const Record &answer) const
{
    if (!m_key)
        return answer;
    Record record = sent;
    record.setSystemFields(answer.recordChangeTag(), answer.creationDate(), answer.modificationDate());
    return record;
}

void RecordSealing::queuePlainAgain()
{
    if (m_plain.isEmpty())
        return;
    QSet<RecordID> waiting;
    for (const PendingRecordZoneChange &change : m_state.pendingRecordZoneChanges())
        waiting.insert(change.recordID);
    QList<PendingRecordZoneChange> again;
    for (const PendingRecordZoneChange &change : std::as_const(m_plain)) {
        if (!waiting.contains(change.recordID))
            again.append(change);
    }
    m_plain.clear();
    if (!again.isEmpty())
        m_state.add(again);
}

} // namespace SyncKit
