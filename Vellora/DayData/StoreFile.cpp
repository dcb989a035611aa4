#include "Vellora/DayData/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

namespace StoreFile {

namespace {

constexpr auto kAppFolder = "app.vellora.Vellora";
constexpr auto kFileName = "vellora.json";

QString setAside(const QString &path)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    return QFile::rename(path, target) ? target : QString();
}

} // namespace

std::optional<QString> defaultFileURL()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return std::nullopt;
    const QString folder = data + QLatin1Char('/') + QLatin1String(kAppFolder);
    QDir().mkpath(folder); // a failure shows later as dropped writes
    return folder + QLatin1Char('/') + QLatin1String(kFileName);
}

LoadResult load(const QString &path)
{
    if (!QFileInfo::exists(path))
        return {};
    QFile file(path);
    std::optional<DayStore::Saved> saved;
    if (file.open(QIODevice::ReadOnly))
        saved = decode(file.readAll());
    if (saved)
        return {std::move(saved), {}, false};

    const QString aside = setAside(path);
    return {std::nullopt, aside, aside.isEmpty()};
}

bool save(const QString &path, const DayStore::Saved &saved)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(encode(saved));
    return file.commit();
}

QByteArray encode(const DayStore::Saved &saved)
{
    QJsonObject items;
    for (const auto &[id, item] : saved.items)
        items.insert(id, item.toJson());
    QJsonObject root{{"items", items}};
    if (saved.state)
        root.insert("state", saved.state->json);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<DayStore::Saved> decode(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    const QJsonValue items = root.value("items");
    if (!items.isObject())
        return std::nullopt;

    DayStore::Saved saved;
    const QJsonObject itemObject = items.toObject();
    for (auto it = itemObject.begin(); it != itemObject.end(); ++it) {
        auto item = DayItem::fromJson(it.value());
        if (!item)
            return std::nullopt;
        saved.items.emplace(it.key(), std::move(*item));
    }
    if (root.contains("state") && !root.value("state").isNull()) {
        auto state = DayStore::Serialization::fromJson(root.value("state"));
        if (!state)
            return std::nullopt;
        saved.state = std::move(*state);
    }
    return saved;
}

} // namespace StoreFile
