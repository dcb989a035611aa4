#pragma once

#include <QSettings>
#include <QString>

#include <memory>

// The user defaults: a QSettings in a JSON file, so that a boolean stays a boolean and a text stays a text
// (the INI format turns every value into a text). Keys are stored as they are, at the top level of one object.
namespace JsonSettingsFormat {

// The registered format; registered on first use.
QSettings::Format format();

// "$XDG_CONFIG_HOME/app.vellora.Vellora/defaults.json".
QString defaultsPath();

// The app's defaults store. Opening it writes nothing.
std::unique_ptr<QSettings> openDefaults();

// A store in the JSON format at the given path, for tools and tests.
std::unique_ptr<QSettings> open(const QString &path);

} // namespace JsonSettingsFormat
