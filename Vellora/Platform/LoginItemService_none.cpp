#include "Vellora/Platform/LoginItemService.h"

namespace {

// Where the platform offers no login items: never enabled, and every change explains why it cannot be made.
class NoLoginItemService : public LoginItemService
{
public:
    bool isEnabled() const override { return false; }
    std::optional<QString> registerApp() override
    {
        return QStringLiteral("Opening at login is not available on this system.");
    }
    std::optional<QString> unregisterApp() override { return std::nullopt; }
};

} // namespace

std::unique_ptr<LoginItemService> makeLoginItemService()
{
    return std::make_unique<NoLoginItemService>();
}
