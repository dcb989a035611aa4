#pragma once

#include "SyncKit/CloudAccount.h"
#include "SyncKit/CloudDatabase.h"
#include "SyncKit/SyncEngineState.h"

#include <QList>

#include <optional>
#include <variant>

namespace SyncKit {

// What the engine tells its delegate. The delegate reads the fields it needs and ignores the kinds it does
// not care about.
namespace SyncEvent {

// The engine's state changed; the delegate keeps the serialization and hands it back at the next start.
struct StateUpdate
{
    SyncEngineState::Serialization stateSerialization;
};

// Also a sign-in when the same account gains its key (previous without it, current with it): its records go sealed
// from now on, and the engine fetches from the beginning.
struct AccountChange
{
    enum class ChangeType { signIn, signOut, switchAccounts };
    ChangeType changeType = ChangeType::signIn;
    std::optional<CloudAccount> previousAccount;
    std::optional<CloudAccount> currentAccount;
};

struct FetchedDatabaseChanges
{
    QList<RecordZoneID> modifications;
    QList<RecordZoneID> deletions;
};

struct FetchedRecordZoneChanges
{
    QList<Record> modifications;
    QList<RecordDeletion> deletions;
};

struct SentDatabaseChanges
{
    QList<RecordZoneID> savedZones;
    QList<ZoneResult> failedZoneSaves;
    QList<RecordZoneID> deletedZoneIDs;
    QList<ZoneResult> failedZoneDeletes;
};

struct FailedRecordSave
{
    Record record; // as it was sent
    CloudError error;
};

struct SentRecordZoneChanges
{
    QList<Record> savedRecords; // as the server stored them
    QList<FailedRecordSave> failedRecordSaves;
    QList<RecordID> deletedRecordIDs;
    QList<RecordResult> failedRecordDeletes;
};

// The server's data was restored from a backup: the tokens and change tags of before no longer hold, and the
// server may lack records this device holds. The engine has forgotten its tokens and fetches everything once it
// has sent; the delegate queues a save of every record it holds, without the system fields of before, so that
// the server gets back what it lost and conflicts are settled as usual.
struct ServerReset
{
};

struct WillFetchChanges
{
};

struct WillFetchRecordZoneChanges
{
    RecordZoneID zoneID;
};

struct DidFetchRecordZoneChanges
{
    RecordZoneID zoneID;
    std::optional<CloudError> error;
};

struct DidFetchChanges
{
};

struct WillSendChanges
{
};

struct DidSendChanges
{
};

} // namespace SyncEvent

using SyncEngineEvent =
    std::variant<SyncEvent::StateUpdate, SyncEvent::AccountChange, SyncEvent::FetchedDatabaseChanges,
                 SyncEvent::FetchedRecordZoneChanges, SyncEvent::SentDatabaseChanges, SyncEvent::SentRecordZoneChanges,
                 SyncEvent::WillFetchChanges, SyncEvent::WillFetchRecordZoneChanges,
                 SyncEvent::DidFetchRecordZoneChanges, SyncEvent::DidFetchChanges, SyncEvent::WillSendChanges,
                 SyncEvent::DidSendChanges, SyncEvent::ServerReset>;

} // namespace SyncKit
