#include "GlobalShortcuts/HotKeyBackend.h"

namespace GlobalShortcuts {

// Platforms without a global hot-key service.
std::unique_ptr<HotKeyBackend> makePlatformHotKeyBackend()
{
    return std::make_unique<HotKeyBackend>();
}

} // namespace GlobalShortcuts
