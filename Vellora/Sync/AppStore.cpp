#include "Vellora/Sync/AppStore.h"

#include "Vellora/Sync/SyncDriver.h"

std::unique_ptr<DayStore> makeAppStore(const std::optional<QString> &filePath, SyncSetup sync)
{
    DayStore::Options options;
    options.filePath = filePath;
    options.calendar = Calendar::current();
    options.allowSync = filePath.has_value();
    options.makeEngine = syncEngineFactory(std::move(sync));
    return std::make_unique<DayStore>(std::move(options));
}
