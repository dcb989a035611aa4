#pragma once

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <memory>

// Defaults in a JSON file, typed like the app's: a boolean stays a boolean, a text a text.
inline QSettings::Format jsonSettingsFormat()
{
    static const QSettings::Format format = QSettings::registerFormat(
        QStringLiteral("json"),
        [](QIODevice &device, QSettings::SettingsMap &map) {
            const QByteArray data = device.readAll();
            if (data.trimmed().isEmpty())
                return true;
            const QJsonDocument document = QJsonDocument::fromJson(data);
            if (!document.isObject())
                return false;
            map = document.object().toVariantMap();
            return true;
        },
        [](QIODevice &device, const QSettings::SettingsMap &map) {
            return device.write(QJsonDocument(QJsonObject::fromVariantMap(map)).toJson()) >= 0;
        });
    return format;
}

inline std::unique_ptr<QSettings> openJsonSettings(const QString &path)
{
    return std::make_unique<QSettings>(path, jsonSettingsFormat());
}

inline QJsonObject readJsonFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}
