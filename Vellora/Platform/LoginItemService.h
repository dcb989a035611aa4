#pragma once

#include <QString>

#include <memory>
#include <optional>

// Whether the system launches the app when the user logs in. Each platform has its own service; the settings ask
// only whether the app is enabled, and register or unregister it.
class LoginItemService
{
public:
    virtual ~LoginItemService() = default;

    virtual bool isEnabled() const = 0;
    // Each returns none on success, or a description of what went wrong, fit to show the user.
    virtual std::optional<QString> registerApp() = 0;
    virtual std::optional<QString> unregisterApp() = 0;
};

// The service of the platform this build is for.
std::unique_ptr<LoginItemService> makeLoginItemService();
