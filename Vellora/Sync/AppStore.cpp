#include "Vellora/Sync/AppStore.h"

#include "Vellora/Sync/SyncDriver.h"

std::unique_ptr<DayStore> makeAppStore(const std::optional<QString> &fileURL, SyncSetup sync)
{
    DayStore::Options options;
    options.fileURL = fileURL;
    options.calendar = Calendar::current();
    options.allowSync = fileURL.has_value();
    options.makeEngine = syncEngineFactory(std::move(sync));
    return std::make_unique<DayStore>(std::move(options));
}
