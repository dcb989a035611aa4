#include "GlobalShortcuts/HotKeyBackend.h"

namespace GlobalShortcuts {

namespace {

// Platforms without a global hot-key service: every registration fails, which the host can report.
class NoHotKeyBackend final : public HotKeyBackend
{
public:
    bool isAvailable() const override { return false; }
    bool registerHotKey(Shortcut) override { return false; }
    void unregisterHotKey(Shortcut) override {}
    bool isTakenByAnotherApplication(Shortcut) override { return false; }
};

} // namespace

std::unique_ptr<HotKeyBackend> makePlatformHotKeyBackend()
{
    return std::make_unique<NoHotKeyBackend>();
}

} // namespace GlobalShortcuts
