#pragma once

#include "SyncKit/CloudDatabase.h"
#include "SyncKit/RecordSeal.h"
#include "SyncKit/SyncEngineState.h"

#include <optional>

namespace SyncKit {

// The engine's records on their way under one account: with the account's key every record sent is sealed and every
// record received is opened before the delegate sees it; without one they travel plain, as an older version sent
// them. A received record that does not open is withheld and noted in the state's unopened records; one that is
// handed on takes its record off that set. A plain record received under a key (written by an older version) is
// handed on and, once the delegate has seen it, queued to go again sealed.
class RecordSealing
{
public:
    RecordSealing(const std::optional<AccountKey> &key, SyncEngineState &state);

    Record sealed(const Record &record, RecordSeal::Kind kind) const;

    // The record as the delegate may see it, or nothing when it does not open.
    std::optional<Record> opened(const Record &record, RecordSeal::Kind kind);
    QList<Record> opened(const QList<Record> &records);
    // Deletions whose tombstone opens, or has nothing to open (a delete of an older version).
    QList<RecordDeletion> opened(const QList<RecordDeletion> &deletions);
    // The error with its server record opened. One that does not open is given without its fields, so that the
    // device's copy is kept and goes over it rather than the record staying unreadable for good.
    CloudError opened(const CloudError &error);
    // What the server answered to a save: the record as it was sent, with the server's new system fields.
    Record saved(const Record &sent, const Record &answer) const;

    // Queues again, sealed, the plain records handed on, unless a change of them already waits.
    void queuePlainAgain();

private:
    std::optional<AccountKey> m_key;
    SyncEngineState &m_state;
    QList<PendingRecordZoneChange> m_plain;
};

} // namespace SyncKit
