#include "Vellora/DayData/StoreFile.h"

#include "JsonText/JsonWriter.h"
#include "Vellora/DayData/StoreReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <string_view>

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

qsizetype itemRoom(const QString &id, const DayItem &item)
{
    return 200 + JsonWriter::quotedRoom(id) + JsonWriter::quotedRoom(item.id) + JsonWriter::quotedRoom(item.day) +
           JsonWriter::quotedRoom(item.title) +
           (item.systemFields ? item.systemFields->size() * 4 / 3 + 40 : 0);
}

// One member of "items": the id, then the item's object two levels deep, its keys in sorted order. Every save
// of a newly read store writes all items, so this is kept plain.
void writeItem(JsonWriter &out, const QString &id, const DayItem &item)
{
    constexpr std::string_view kInner = "\n            ";
    out.put("        ");
    out.putQuoted(id);
    out.put(": {");
    out.put(kInner);
    out.put("\"bucket\": \"");
    out.put(char('0' + capacity(item.bucket)));
    out.put("\",");
    out.put(kInner);
    out.put("\"day\": ");
    out.putQuoted(item.day);
    out.put(",");
    out.put(kInner);
    out.put(item.done ? "\"done\": true," : "\"done\": false,");
    out.put(kInner);
    out.put("\"id\": ");
    out.putQuoted(item.id);
    out.put(",");
    out.put(kInner);
    out.put("\"modifiedAt\": \"");
    out.put(fileDateText(item.modifiedAt));
    out.put("\",");
    if (item.systemFields) {
        const QByteArray base64 = item.systemFields->toBase64();
        out.put(kInner);
        out.put("\"systemFields\": \"");
        out.put(std::string_view(base64.constData(), size_t(base64.size())));
        out.put("\",");
    }
    out.put(kInner);
    out.put("\"title\": ");
    out.putQuoted(item.title);
    out.put("\n        }");
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

bool save(const QString &path, const DayStore::Saved &saved, Encoder *encoder)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(encoder ? encoder->encode(saved) : encode(saved));
    return file.commit();
}

QByteArray Encoder::encode(const DayStore::Saved &saved)
{
    // The same text as the document writer's indented form: four spaces a level, keys sorted.
    constexpr std::string_view kHead = "{\n    \"items\": {", kItemsEnd = "\n    }", kStateKey = ",\n    \"state\": ",
                               kEnd = "\n}\n";
    // Items that have not changed since the last call are copied from its text; the rest are written anew.
    JsonWriter writer(m_text.size() + 4096);
    writer.put(kHead);
    auto cached = m_items.begin();
    bool first = true;
    for (const auto &[id, item] : saved.items) {
        while (cached != m_items.end() && cached->first < id)
            cached = m_items.erase(cached);
        const bool kept = cached != m_items.end() && cached->first == id && cached->second.item == item;
        writer.makeRoom(2 + (kept ? cached->second.size : itemRoom(id, item)));
        writer.put(first ? "\n" : ",\n");
        first = false;
        const qsizetype offset = writer.size();
        if (kept) {
            writer.put(std::string_view(m_text.constData() + cached->second.offset, size_t(cached->second.size)));
        } else {
            writeItem(writer, id, item);
            if (cached == m_items.end() || cached->first != id)
                cached = m_items.emplace_hint(cached, id, Entry{item, 0, 0});
            else
                cached->second.item = item;
        }
        cached->second.offset = offset;
        cached->second.size = writer.size() - offset;
        ++cached;
    }
    m_items.erase(cached, m_items.end());
    writer.makeRoom(qsizetype(kItemsEnd.size() + kStateKey.size()));
    writer.put(kItemsEnd);
    if (saved.state) {
        writer.put(kStateKey);
        // The state changes less often than the items: when it has not, its text is copied like theirs.
        const qsizetype offset = writer.size();
        if (saved.state == m_state) {
            writer.makeRoom(m_stateSize);
            writer.put(std::string_view(m_text.constData() + m_stateOffset, size_t(m_stateSize)));
        } else {
            saved.state->writeJson(writer, 1);
            m_state = saved.state;
        }
        m_stateOffset = offset;
        m_stateSize = writer.size() - offset;
    } else {
        m_state.reset();
    }
    writer.makeRoom(qsizetype(kEnd.size()));
    writer.put(kEnd);
    const QByteArray out = writer.take();
    m_text = out;
    return out;
}

QByteArray encode(const DayStore::Saved &saved)
{
    QJsonObject items;
    for (const auto &[id, item] : saved.items)
        items.insert(id, item.toJson());
    QJsonObject root{{"items", items}};
    if (saved.state)
        root.insert("state", QJsonDocument::fromJson(saved.state->toJson()).object());
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<DayStore::Saved> decode(const QByteArray &bytes)
{
    if (auto saved = StoreReader::read(bytes))
        return saved;
    return decodeDocument(bytes);
}

std::optional<DayStore::Saved> decodeDocument(const QByteArray &bytes)
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
