#include "SyncKit/SyncEngineState.h"

#include <algorithm>


namespace SyncKit {

namespace {

const RecordID &keyOf(const PendingRecordZoneChange &change)
{
    return change.recordID;
}

const RecordZoneID &keyOf(const PendingDatabaseChange &change)
{
    return change.zoneID;
}

// Adds changes of records or zones. The same change twice is one change; a later change of the other kind
// replaces the earlier one and goes to the end, since only the latest intent for a record matters. Linear in
// the length of the queue, however many changes are added.
template<typename Change>
bool addChanges(QList<Change> &list, const QList<Change> &changes)
{
    // One change at a time is the common case, and scanning the queue once costs less than indexing it.
    if (changes.size() == 1) {
        const Change &change = changes.first();
        const auto same = std::find_if(list.cbegin(), list.cend(),
                                       [&](const Change &queued) { return keyOf(queued) == keyOf(change); });
        if (same != list.cend()) {
            if (*same == change)
                return false;
            list.erase(same);
        }
        list.append(change);
        return true;
    }
    using Key = std::decay_t<decltype(keyOf(std::declval<Change>()))>;
    QHash<Key, qsizetype> position;
    position.reserve(list.size() + changes.size());
    for (qsizetype i = 0; i < list.size(); ++i)
        position.insert(keyOf(list[i]), i);
    QList<bool> replaced(list.size(), false);
    bool any = false;
    for (const Change &change : changes) {
        const auto found = position.constFind(keyOf(change));
        if (found != position.constEnd()) {
            if (list[*found] == change)
                continue;
            replaced[*found] = true;
        }
        position.insert(keyOf(change), list.size());
        list.append(change);
        replaced.append(false);
        any = true;
    }
    qsizetype index = 0;
    list.removeIf([&](const Change &) { return replaced[index++]; });
    return any;
}

template<typename Change>
bool removeChanges(QList<Change> &list, const QList<Change> &changes)
{
    using Key = std::decay_t<decltype(keyOf(std::declval<Change>()))>;
    QMultiHash<Key, typename Change::Kind> doomed;
    for (const Change &change : changes)
        doomed.insert(keyOf(change), change.kind);
    return list.removeIf([&](const Change &change) { return doomed.contains(keyOf(change), change.kind); }) > 0;
}

} // namespace

SyncEngineState SyncEngineState::fromSerialization(const Serialization &serialization)
{
    SyncEngineState state;
    state.m_data = serialization;
    if (state.m_data.account)
        state.m_data.account->token.clear();
    return state;
}

void SyncEngineState::add(const QList<PendingRecordZoneChange> &changes)
{
    for (const auto &change : changes)
        m_revisions.insert(change.recordID, m_nextRevision++);
    if (addChanges(m_data.recordZoneChanges, changes))
        changed();
}

void SyncEngineState::remove(const QList<PendingRecordZoneChange> &changes)
{
    if (removeChanges(m_data.recordZoneChanges, changes))
        changed();
}

void SyncEngineState::add(const QList<PendingDatabaseChange> &changes)
{
    if (addChanges(m_data.databaseChanges, changes))
        changed();
}

void SyncEngineState::remove(const QList<PendingDatabaseChange> &changes)
{
    if (removeChanges(m_data.databaseChanges, changes))
        changed();
}

void SyncEngineState::setDatabaseChangeToken(const QByteArray &token)
{
    if (token == m_data.databaseToken)
        return;
    m_data.databaseToken = token;
    changed();
}

void SyncEngineState::setZoneChangeToken(const RecordZoneID &zone, const QByteArray &token)
{
    if (m_data.zoneTokens.value(zone) == token && m_data.zoneTokens.contains(zone))
        return;
    m_data.zoneTokens.insert(zone, token);
    changed();
}

void SyncEngineState::forgetZoneChangeToken(const RecordZoneID &zone)
{
    if (m_data.zoneTokens.remove(zone))
        changed();
}

void SyncEngineState::forgetChangeTokens()
{
    if (m_data.databaseToken.isEmpty() && m_data.zoneTokens.isEmpty())
        return;
    m_data.databaseToken.clear();
    m_data.zoneTokens.clear();
    changed();
}

void SyncEngineState::setAccount(const std::optional<CloudAccount> &account)
{
    std::optional<CloudAccount> identity;
    if (account)
        identity = CloudAccount{account->server, account->user, {}};
    if (identity == m_data.account)
        return;
    m_data.account = identity;
    // What could not be opened was another account's.
    m_data.unopenedRecords.clear();
    changed();
}

void SyncEngineState::setSealed(bool sealed)
{
    if (sealed == m_data.sealed)
        return;
    m_data.sealed = sealed;
    changed();
}

void SyncEngineState::setUnopened(const RecordID &recordID, bool unopened)
{
    if (unopened == m_data.unopenedRecords.contains(recordID))
        return;
    if (unopened)
        m_data.unopenedRecords.insert(recordID);
    else
        m_data.unopenedRecords.remove(recordID);
    changed();
}

void SyncEngineState::changed()
{
    if (m_changed)
        m_changed();
}

} // namespace SyncKit
