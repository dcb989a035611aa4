#pragma once

#include "Vellora/Sync/SyncDriver.h"

#include <memory>
#include <optional>

// The store of the app and the command line: the user's calendar, the current time, and sync beside it when there
// is a file. Both make it alike, so both start a new day alike. Without a cloud in `sync`, the engine keeps every
// change queued in the store file.
class AppStore : public DayStore
{
    Q_OBJECT

public:
    // `options.openDay` is taken as off: the day opens once sync listens.
    AppStore(DayStore::Options options, const SyncSetup &sync);

    // None for a store in memory, or one whose sync state cannot be read (syncError() says why).
    SyncKit::SyncEngine *engine() { return m_sync ? m_sync->engine() : nullptr; }
    SyncDriver *driver() { return m_sync ? &*m_sync : nullptr; }
    std::optional<QString> syncError() const { return m_sync ? m_sync->syncError() : std::nullopt; }
    qsizetype unopenedRecordCount() const { return m_sync ? m_sync->unopenedRecordCount() : 0; }

private:
    std::optional<SyncDriver> m_sync;
};

std::unique_ptr<AppStore> makeAppStore(const std::optional<QString> &filePath, const SyncSetup &sync = {});
