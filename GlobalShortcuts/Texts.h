#pragma once

#include <QString>

// The module's own texts, looked up by key; translations can be added through Qt's translator under the
// context "GlobalShortcuts".
namespace GlobalShortcuts {

QString localizedText(const char *key);

} // namespace GlobalShortcuts
