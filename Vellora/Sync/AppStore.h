#pragma once

#include "Vellora/DayData/DayStore.h"

#include <memory>

// Makes the store the way the app does at launch: the file, the user's calendar, the current time, and sync
// when there is a file. The command line and the window share it, so both start a new day alike.
std::unique_ptr<DayStore> makeAppStore(const std::optional<QString> &fileURL);
