#pragma once

#include "Vellora/Platform/LoginItemService.h"

// A login-item service in memory, for tests: it can be told to fail, and counts what it was asked to do.
class FakeLoginItemService : public LoginItemService
{
public:
    bool enabled = false;
    std::optional<QString> failure; // when set, every change fails with this text and changes nothing
    int registerCalls = 0;
    int unregisterCalls = 0;

    bool isEnabled() const override { return enabled; }
    std::optional<QString> registerApp() override { return change(true, registerCalls); }
    std::optional<QString> unregisterApp() override { return change(false, unregisterCalls); }

private:
    std::optional<QString> change(bool value, int &calls)
    {
        ++calls;
        if (failure)
            return failure;
        enabled = value;
        return std::nullopt;
    }
};
