#include "Vellora/DayData/StoreFile.h"

#include "JsonText/IndentedJsonWriter.h"
#include "Vellora/DayData/StoreReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

// The member of "items" for one item, from its key on: every save of a newly read store writes them all.
void writeItem(IndentedJsonWriter &out, const QString &id, const DayItem &item)
{
    const char bucket = char('0' + capacity(item.bucket));
    out.putQuoted(id);
    out.put(": ");
    out.open('{');
    out.plain("bucket", std::string_view(&bucket, 1));
    out.text("day", item.day);
    out.literal("done", item.done ? "true" : "false");
    out.text("id", item.id);
    out.plain("modifiedAt", fileDateText(item.modifiedAt));
    if (item.systemFields)
        out.bytes("systemFields", *item.systemFields);
    out.text("title", item.title);
    out.close('}');
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
    // The same text as the general writer's indented form, keys sorted. Items that have not changed since the
    // last call are copied from its text, and so is the state; the rest are written anew.
    JsonWriter text(m_text.size() + 4096);
    IndentedJsonWriter out(text);
    out.open('{');
    out.next("items");
    out.open('{');
    auto cached = m_items.begin();
    for (const auto &[id, item] : saved.items) {
        while (cached != m_items.end() && cached->first < id)
            cached = m_items.erase(cached);
        out.next();
        const qsizetype offset = text.size();
        if (cached != m_items.end() && cached->first == id && cached->second.item == item) {
            out.put(std::string_view(m_text.constData() + cached->second.offset, size_t(cached->second.size)));
        } else {
            writeItem(out, id, item);
            if (cached == m_items.end() || cached->first != id)
                cached = m_items.emplace_hint(cached, id, Entry{item, 0, 0});
            else
                cached->second.item = item;
        }
        cached->second.offset = offset;
        cached->second.size = text.size() - offset;
        ++cached;
    }
    m_items.erase(cached, m_items.end());
    out.close('}');
    if (saved.state) {
        out.next("state");
        const qsizetype offset = text.size();
        if (saved.state == m_state) {
            out.put(std::string_view(m_text.constData() + m_stateOffset, size_t(m_stateSize)));
        } else {
            saved.state->writeJson(out);
            m_state = saved.state;
        }
        m_stateOffset = offset;
        m_stateSize = text.size() - offset;
    } else {
        m_state.reset();
    }
    out.close('}');
    out.put("\n");
    m_text = text.take();
    return m_text;
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
