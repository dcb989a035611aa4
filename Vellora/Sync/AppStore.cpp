#include "Vellora/Sync/AppStore.h"

namespace {

DayStore::Options closed(DayStore::Options options)
{
    options.openDay = false;
    return options;
}

} // namespace

AppStore::AppStore(DayStore::Options options, const SyncSetup &sync)
    : DayStore(closed(std::move(options)))
{
    // A store file that was refused (not a file of ours) is never written, and does not sync either.
    if (filePath())
        m_sync.emplace(*this, sync);
    openDay();
}

std::unique_ptr<AppStore> makeAppStore(const std::optional<QString> &filePath, const SyncSetup &sync)
{
    DayStore::Options options;
    options.filePath = filePath;
    options.calendar = Calendar::current();
    return std::make_unique<AppStore>(std::move(options), sync);
}
