#include "Vellora/Sync/AppStore.h"

#include "Vellora/Sync/SyncDriver.h"

std::unique_ptr<DayStore> makeAppStore(const std::optional<QString> &fileURL)
{
    DayStore::Options options;
    options.fileURL = fileURL;
    options.calendar = Calendar::current();
    options.allowSync = fileURL.has_value();
    // No cloud is built in yet: the engine keeps every change queued in the store file until one is.
    options.makeEngine = syncEngineFactory();
    return std::make_unique<DayStore>(std::move(options));
}
