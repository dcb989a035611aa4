#include "Vellora/DayData/StoreFile.h"

#include "Vellora/DayData/StoreReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

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

// A document's text placed at a deeper level: every line after the first moves right, the final line break goes.
QByteArray indented(QByteArray text, int spaces)
{
    if (text.endsWith('\n'))
        text.chop(1);
    return text.replace("\n", "\n" + QByteArray(spaces, ' '));
}

// A string as the document writer quotes it. Plain text is written here in one pass; text with control
// characters or surrogates (broken or not) goes through the writer itself, whose escapes are the reference.
void appendQuoted(QByteArray &out, const QString &text)
{
    const qsizetype start = out.size();
    out.resize(start + 2 + 3 * text.size()); // at most three bytes a character, quotes included
    char *p = out.data() + start;
    *p++ = '"';
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c < 0x20 || QChar::isSurrogate(c)) {
            out.truncate(start);
            const QByteArray quoted = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
            out.append(quoted.constData() + 1, quoted.size() - 2);
            return;
        }
        if (c < 0x80) {
            if (c == '"' || c == '\\')
                *p++ = '\\';
            *p++ = char(c);
        } else if (c < 0x800) {
            *p++ = char(0xC0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3F));
        } else {
            *p++ = char(0xE0 | (c >> 12));
            *p++ = char(0x80 | ((c >> 6) & 0x3F));
            *p++ = char(0x80 | (c & 0x3F));
        }
    }
    *p++ = '"';
    out.truncate(p - out.constData());
}

// One member of "items": the id, then the item's object two levels deep, its keys in sorted order. Every save
// of a newly loaded store writes all items, so this is kept plain.
QByteArray itemText(const QString &id, const DayItem &item)
{
    static constexpr QByteArrayView kInner = "\n            ";
    QByteArray out;
    out.reserve(320);
    out.append("        ");
    appendQuoted(out, id);
    out.append(": {").append(kInner).append("\"bucket\": \"").append(char('0' + capacity(item.bucket)));
    out.append("\",").append(kInner).append("\"day\": ");
    appendQuoted(out, item.day);
    out.append(",").append(kInner).append("\"done\": ").append(item.done ? "true" : "false");
    out.append(",").append(kInner).append("\"id\": ");
    appendQuoted(out, item.id);
    out.append(",").append(kInner).append("\"modifiedAt\": \"");
    appendFileDate(out, item.modifiedAt);
    out.append("\",");
    if (item.systemFields)
        out.append(kInner).append("\"systemFields\": \"").append(item.systemFields->toBase64()).append("\",");
    out.append(kInner).append("\"title\": ");
    appendQuoted(out, item.title);
    out.append("\n        }");
    return out;
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
    QByteArray out;
    out.reserve(m_lastSize + 4096);
    out += "{\n    \"items\": {";
    auto cached = m_items.begin();
    bool first = true;
    for (const auto &[id, item] : saved.items) {
        while (cached != m_items.end() && cached->first < id)
            cached = m_items.erase(cached);
        if (cached == m_items.end() || cached->first != id)
            cached = m_items.emplace_hint(cached, id, Entry{item, itemText(id, item)});
        else if (!(cached->second.item == item))
            cached->second = Entry{item, itemText(id, item)};
        out += first ? "\n" : ",\n";
        out += cached->second.text;
        first = false;
        ++cached;
    }
    m_items.erase(cached, m_items.end());
    out += "\n    }";
    if (saved.state) {
        out += ",\n    \"state\": ";
        out += indented(QJsonDocument(saved.state->json).toJson(QJsonDocument::Indented), 4);
    }
    out += "\n}\n";
    m_lastSize = out.size();
    return out;
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
