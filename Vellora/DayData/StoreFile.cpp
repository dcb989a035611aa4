#include "Vellora/DayData/StoreFile.h"

#include "Vellora/Files/AtomicFile.h"
#include "Vellora/DayData/StoreReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

namespace StoreFile {

namespace {

constexpr auto kAppFolder = "app.vellora.Vellora";
constexpr auto kFileName = "vellora.json";

QString asidePathFor(const QString &path)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    return target;
}

QString setAside(const QString &path)
{
    const QString target = asidePathFor(path);
    return QFile::rename(path, target) ? target : QString();
}

// A file with damaged items: its bytes as they are go to a file aside, then the store is written with what was read,
// so that the next read finds it whole. Until both are done nothing may write over it.
LoadResult keepDamaged(const QString &path, DayStore::Saved saved, const StoreDamage &damage)
{
    LoadResult result;
    auto refuse = [&](const QString &why) {
        result.keepOut = true;
        result.error = QStringLiteral("%1 could not be read, and %2").arg(
            damage.unreadableItems > 0 ? QStringLiteral("some of its items") : QStringLiteral("some of its text"), why);
        return result;
    };
    const AtomicFile::ReadResult original = AtomicFile::read(path);
    if (!original.bytes)
        return refuse(QStringLiteral("reading it again failed: %1")
                          .arg(original.error ? original.error->reason : QStringLiteral("it is gone")));
    const QString aside = asidePathFor(path);
    if (const auto error = AtomicFile::write(aside, *original.bytes))
        return refuse(QStringLiteral("it could not be copied aside: %1").arg(error->reason));
    if (const auto error = save(path, saved)) {
        QFile::remove(aside);
        return refuse(QStringLiteral("it could not be written again: %1").arg(*error));
    }
    result.saved = std::move(saved);
    result.setAsidePath = aside;
    result.damage = damage;
    return result;
}

LoadResult loadFile(const QString &path)
{
    AtomicFile::ReadResult file = AtomicFile::read(path, JsonParser::kPadding);
    if (file.missing)
        return {};
    if (file.error) {
        // Not a file of ours, or not one we may read: neither moved nor written over.
        LoadResult refused;
        refused.keepOut = true;
        refused.error = file.error->reason;
        return refused;
    }
    StoreDamage damage;
    if (auto saved = decode(std::move(*file.bytes), &damage)) {
        if (damage.any())
            return keepDamaged(path, std::move(*saved), damage);
        return {std::move(saved), {}, {}, false, {}};
    }

    const QString aside = setAside(path);
    return {std::nullopt, aside, {}, aside.isEmpty(), {}};
}

} // namespace

std::optional<QString> defaultFilePath()
{
    // Without either, the data folder would be made at the root of the file system.
    if (qEnvironmentVariableIsEmpty("XDG_DATA_HOME") && qEnvironmentVariableIsEmpty("HOME"))
        return std::nullopt;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return std::nullopt;
    const QString folder = data + QLatin1Char('/') + QLatin1String(kAppFolder);
    if (QDir().mkpath(folder)) {
        // The tasks are the user's alone. A failure here shows at the first save.
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    }
    return folder + QLatin1Char('/') + QLatin1String(kFileName);
}

std::optional<DayStore::Saved> peek(const QString &path)
{
    try {
        AtomicFile::ReadResult file = AtomicFile::read(path, JsonParser::kPadding);
        if (!file.bytes)
            return std::nullopt;
        // A damaged file is set aside by the next command that opens the store under its lock.
        StoreDamage damage;
        auto saved = decode(std::move(*file.bytes), &damage);
        return damage.any() ? std::nullopt : saved;
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

LoadResult load(const QString &path)
{
    try {
        return loadFile(path);
    } catch (const std::bad_alloc &) {
        // Nothing is known about the file then: it is neither set aside as unreadable nor written over.
        LoadResult refused;
        refused.keepOut = true;
        refused.error = QStringLiteral("there is not enough memory to read it");
        return refused;
    }
}

std::optional<QString> save(const QString &path, const DayStore::Saved &saved)
{
    if (const auto error = AtomicFile::write(path, encode(saved)))
        return error->reason;
    return std::nullopt;
}

QByteArray encode(const DayStore::Saved &saved)
{
    QJsonObject items;
    for (const auto &[id, item] : saved.items)
        items.insert(id, item.toJson());
    QJsonObject root{{"items", items}};
    if (!saved.deletions.empty()) {
        QJsonObject deletions;
        for (const auto &[id, deletion] : saved.deletions) {
            QJsonObject entry{{"deletedAt", fileDateString(deletion.deletedAt)}};
            if (deletion.systemFields)
                entry.insert("systemFields", QString::fromLatin1(deletion.systemFields->toBase64()));
            deletions.insert(id, entry);
        }
        root.insert("deletions", deletions);
    }
    if (saved.shownDay)
        root.insert("shownDay", *saved.shownDay);
    if (saved.state)
        root.insert("state", *saved.state);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<DayStore::Saved> decode(QByteArray bytes, StoreDamage *damage)
{
    return StoreReader::read(bytes, damage);
}

} // namespace StoreFile
