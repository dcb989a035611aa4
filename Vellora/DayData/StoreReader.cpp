#include "Vellora/DayData/StoreReader.h"

namespace {

constexpr std::array<std::string_view, 7> kItemKeys{"bucket", "day",          "done", "id",
                                                    "modifiedAt", "systemFields", "title"};
constexpr unsigned kSystemFields = 1u << 5;
constexpr unsigned kAllItemKeys = (1u << kItemKeys.size()) - 1;

} // namespace

std::optional<DayStore::Saved> StoreReader::read(QByteArrayView bytes)
{
    StoreReader reader(bytes);
    DayStore::Saved saved;
    if (!reader.readRoot(saved))
        return std::nullopt;
    return saved;
}

bool StoreReader::readRoot(DayStore::Saved &saved)
{
    bool seenItems = false, seenState = false;
    const bool read = m_json.readObject([&](JsonKey key) {
        if (key == "items" && !seenItems) {
            seenItems = true;
            return readItems(saved.items);
        }
        if (key == "state" && !seenState) {
            seenState = true;
            return readState(saved.state);
        }
        return false;
    });
    return read && seenItems && m_json.atEnd();
}

bool StoreReader::readItems(std::map<QString, DayItem> &items)
{
    if (!m_json.take('{'))
        return false;
    if (m_json.take('}'))
        return true;
    do {
        QString id;
        DayItem item;
        if (!m_json.readString(id) || !m_json.take(':') || !readItem(item))
            return false;
        // An item is known by its key: an "id" that says otherwise was edited by hand and is mended.
        item.id = id;
        // The file lists items in order, so each goes at the end.
        const auto before = items.size();
        const auto at = items.try_emplace(items.end(), id, std::move(item)); // item is left alone when id is taken
        // The same id twice: the copy changed last wins (on a tie, the later in the file), and reading goes on.
        if (items.size() == before && item.modifiedAt >= at->second.modifiedAt)
            at->second = std::move(item);
    } while (m_json.take(','));
    return m_json.take('}');
}

bool StoreReader::readItem(DayItem &item)
{
    const auto seen = m_json.readKnownObject(kItemKeys, [&](size_t key) {
        QByteArrayView plain;
        switch (key) {
        case 0: // bucket
            if (!m_json.readPlain(plain) || plain.size() != 1 || (plain[0] != '1' && plain[0] != '3' && plain[0] != '5'))
                return false;
            item.bucket = plain[0] == '1' ? Bucket::big : plain[0] == '3' ? Bucket::medium : Bucket::small;
            return true;
        case 1: // day
            return m_json.readString(item.day, &m_lastDay); // most items share a handful of days
        case 2: // done
            return m_json.readBool(item.done);
        case 3: // id
            return m_json.readString(item.id);
        case 4: { // modifiedAt
            if (!m_json.readPlain(plain))
                return false;
            const auto time = dateFromFileText(plain);
            if (time)
                item.modifiedAt = *time;
            return time.has_value();
        }
        case 5: { // systemFields
            if (!m_json.readPlain(plain))
                return false;
            auto bytes = QByteArray::fromBase64Encoding(plain.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
            if (bytes)
                item.systemFields = std::move(*bytes);
            return bool(bytes);
        }
        default: // title
            return m_json.readString(item.title);
        }
    });
    return seen && (*seen | kSystemFields) == kAllItemKeys; // every key but the system fields is required
}

bool StoreReader::readState(std::optional<DayStore::Serialization> &state)
{
    if (m_json.readNull())
        return true;
    // In the file's own form the state is the last member, so its text runs to the root's closing brace; the
    // state's reader checks that it holds exactly one value. Any other order takes the general parser's way.
    const QByteArrayView rest = m_json.rest();
    const qsizetype end = rest.lastIndexOf('}');
    if (end <= 0)
        return false;
    state = DayStore::Serialization::fromJson(rest.first(end));
    m_json.skip(end);
    return state.has_value();
}
