#include "cli/AppStore.h"

std::unique_ptr<DayStore> makeAppStore(const std::optional<QString> &fileURL)
{
    DayStore::Options options;
    options.fileURL = fileURL;
    options.calendar = Calendar::current();
    options.allowSync = fileURL.has_value();
    return std::make_unique<DayStore>(std::move(options));
}
