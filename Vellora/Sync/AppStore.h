#pragma once

#include "Vellora/DayData/DayStore.h"
#include "Vellora/Sync/SyncDriver.h"

#include <memory>

// Makes the store the way the app does at launch: the file, the user's calendar, the current time, and sync
// when there is a file. The command line and the window share it, so both start a new day alike. Without a cloud
// in `sync`, the engine keeps every change queued in the store file.
std::unique_ptr<DayStore> makeAppStore(const std::optional<QString> &filePath, SyncSetup sync = {});
