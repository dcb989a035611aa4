#include "Vellora/DayData/StoreReader.h"

#include <QJsonDocument>

#include <string_view>

namespace {

// The block's raw value, "1", "3" or "5", without making a string for it.
std::optional<Block> blockOf(simdjson::dom::element value)
{
    std::string_view text;
    if (value.get_string().get(text) || text.size() != 1)
        return std::nullopt;
    for (const Block block : kAllBlocks) {
        if (text[0] == char('0' + capacity(block)))
            return block;
    }
    return std::nullopt;
}

// Replaces each sequence that is not UTF-8 with U+FFFD and gives how many there were. Taken only after a parse
// failed, so the whole file is read at the parser's speed.
int mendInvalidUtf8(QByteArray &bytes)
{
    const QByteArrayView replacement("\xEF\xBF\xBD");
    const qsizetype before = bytes.count(replacement);
    const QString text = QString::fromUtf8(bytes);
    bytes = text.toUtf8();
    return int(bytes.count(replacement) - before);
}

std::optional<QDateTime> readDate(simdjson::dom::element value)
{
    std::string_view text;
    if (value.get_string().get(text))
        return std::nullopt;
    return dateFromFileText(QByteArrayView(text.data(), qsizetype(text.size())));
}

} // namespace

std::optional<DayStore::Saved> StoreReader::read(QByteArray &bytes, StoreDamage *damage)
{
    StoreDamage found;
    // A byte-order mark is how some editors save UTF-8: it says nothing about the text.
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    JsonParser parser;
    auto root = parser.parse(bytes);
    if (!root && !simdjson::validate_utf8(bytes.constData(), size_t(bytes.size()))) {
        found.mendedTexts = mendInvalidUtf8(bytes);
        root = parser.parse(bytes);
    }
    simdjson::dom::object object;
    if (!root || root->get_object().get(object))
        return std::nullopt;
    StoreReader reader;
    DayStore::Saved saved;
    bool seenItems = false;
    // A key given twice counts as it was given last.
    for (const auto [key, value] : object) {
        if (key == "items") {
            seenItems = true;
            saved.items.clear();
            found.unreadableItems = 0;
            if (!reader.readItems(value, saved.items, found))
                return std::nullopt;
        } else if (key == "deletions") {
            // Deletes still to send: one that cannot be read is sent without them, as a plain delete.
            saved.deletions.clear();
            simdjson::dom::object deletions;
            if (value.get_object().get(deletions))
                continue;
            for (const auto [id, entry] : deletions) {
                simdjson::dom::element field;
                DayStore::Deletion deletion;
                if (entry.at_key("deletedAt").get(field))
                    continue;
                const auto at = readDate(field);
                if (!at)
                    continue;
                deletion.deletedAt = *at;
                if (!entry.at_key("systemFields").get(field))
                    deletion.systemFields = JsonParser::readBase64(field);
                saved.deletions.insert_or_assign(QString::fromUtf8(id.data(), qsizetype(id.size())), deletion);
            }
        } else if (key == "shownDay") {
            // Only this computer's own record of its day: one that is not a day (edited by hand) would hold off
            // every new day, so the file is judged by its items instead.
            QString day;
            if (JsonParser::read(value, day) && QDate::fromString(day, QStringLiteral("yyyy-MM-dd")).isValid())
                saved.shownDay = day;
            else
                saved.shownDay.reset();
        } else if (key == "state") {
            saved.state.reset();
            if (value.is_null())
                continue;
            // Sync's own: kept as it is, read by sync.
            const QJsonDocument state = QJsonDocument::fromJson(QByteArray::fromStdString(simdjson::minify(value)));
            if (!state.isObject())
                return std::nullopt;
            saved.state = state.object();
        }
    }
    if (!seenItems)
        return std::nullopt;
    if (damage)
        *damage = found;
    return saved;
}

bool StoreReader::readItems(simdjson::dom::element value, std::map<QString, DayItem> &items, StoreDamage &damage)
{
    simdjson::dom::object object;
    if (value.get_object().get(object))
        return false;
    for (const auto [key, entry] : object) {
        DayItem item;
        // One bad item costs only itself: the others are read, and the file is kept aside as it was.
        if (!readItem(entry, item)) {
            ++damage.unreadableItems;
            continue;
        }
        // An item is known by its key: an "id" that says otherwise was edited by hand and is mended.
        const QString id = QString::fromUtf8(key.data(), qsizetype(key.size()));
        item.id = id;
        // The file lists items in order, so each goes at the end.
        const auto before = items.size();
        const auto at = items.try_emplace(items.end(), id, std::move(item)); // item is left alone when id is taken
        // The same id twice: the copy changed last wins (on a tie, the later in the file), and reading goes on.
        if (items.size() == before && item.changeTime() >= at->second.changeTime())
            at->second = std::move(item);
    }
    return true;
}

bool StoreReader::readItem(simdjson::dom::element value, DayItem &item)
{
    simdjson::dom::object object;
    if (value.get_object().get(object))
        return false;
    enum : unsigned { kBlock = 1, kDay = 2, kDone = 4, kId = 8, kModifiedAt = 16, kTitle = 32 };
    unsigned seen = 0;
    for (const auto [key, field] : object) {
        bool read = true;
        if (key == "bucket") {
            const auto block = blockOf(field);
            read = block.has_value();
            item.block = block.value_or(Block::small);
            seen |= kBlock;
        } else if (key == "day") {
            read = JsonParser::read(field, item.day, m_lastDay); // most items share a handful of days
            seen |= kDay;
        } else if (key == "done") {
            read = !field.get_bool().get(item.done);
            seen |= kDone;
        } else if (key == "id") {
            std::string_view id; // the item's key is its id: see readItems
            read = !field.get_string().get(id);
            seen |= kId;
        } else if (key == "modifiedAt") {
            const auto time = readDate(field);
            read = time.has_value();
            item.modifiedAt = time.value_or(QDateTime());
            seen |= kModifiedAt;
        } else if (key == "changedAt") {
            item.changedAt = readDate(field);
            read = item.changedAt.has_value();
        } else if (key == "titleChangedAt" || key == "doneChangedAt" || key == "placeChangedAt") {
            const auto time = readDate(field);
            read = time.has_value();
            (key == "titleChangedAt" ? item.titleChangedAt
                                     : key == "doneChangedAt" ? item.doneChangedAt : item.placeChangedAt) = time;
        } else if (key == "systemFields") {
            item.systemFields = JsonParser::readBase64(field);
            read = item.systemFields.has_value();
        } else if (key == "title") {
            read = JsonParser::read(field, item.title);
            seen |= kTitle;
        }
        if (!read)
            return false;
    }
    item.changedAt = laterChange(item.changedAt, item.modifiedAt);
    item.compactPartTimes();
    return seen == (kBlock | kDay | kDone | kId | kModifiedAt | kTitle); // every key but the optional ones
}
