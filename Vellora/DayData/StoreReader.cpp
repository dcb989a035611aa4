#include "Vellora/DayData/StoreReader.h"

namespace {

enum ItemKey : unsigned {
    kBucket = 1,
    kDay = 2,
    kDone = 4,
    kId = 8,
    kModifiedAt = 16,
    kSystemFields = 32,
    kTitle = 64,
};
constexpr unsigned kRequiredKeys = kBucket | kDay | kDone | kId | kModifiedAt | kTitle;

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
        if (item.id == id)
            item.id = id; // one text for both
        // The file lists items in order, so each goes at the end.
        const auto before = items.size();
        items.emplace_hint(items.end(), std::move(id), std::move(item));
        if (items.size() == before)
            return false; // the same id twice
    } while (m_json.take(','));
    return m_json.take('}');
}

bool StoreReader::readItem(DayItem &item)
{
    unsigned seen = 0;
    const bool read = m_json.readObject([&](JsonKey key) {
        unsigned found = 0;
        bool ok = false;
        QByteArrayView plain;
        if (key == "bucket") {
            found = kBucket;
            ok = m_json.readPlain(plain) && plain.size() == 1 && (plain[0] == '1' || plain[0] == '3' || plain[0] == '5');
            if (ok)
                item.bucket = plain[0] == '1' ? Bucket::big : plain[0] == '3' ? Bucket::medium : Bucket::small;
        } else if (key == "day") {
            found = kDay;
            ok = m_json.readString(item.day, &m_lastDay); // most items share a handful of days
        } else if (key == "done") {
            found = kDone;
            ok = m_json.readBool(item.done);
        } else if (key == "id") {
            found = kId;
            ok = m_json.readString(item.id);
        } else if (key == "modifiedAt") {
            found = kModifiedAt;
            std::optional<QDateTime> time;
            ok = m_json.readPlain(plain) && (time = dateFromFileText(plain));
            if (ok)
                item.modifiedAt = *time;
        } else if (key == "systemFields") {
            found = kSystemFields;
            ok = m_json.readPlain(plain);
            if (ok) {
                auto bytes = QByteArray::fromBase64Encoding(plain.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
                ok = bool(bytes);
                if (ok)
                    item.systemFields = std::move(*bytes);
            }
        } else if (key == "title") {
            found = kTitle;
            ok = m_json.readString(item.title);
        }
        if (!ok || (seen & found))
            return false;
        seen |= found;
        return true;
    });
    return read && (seen & kRequiredKeys) == kRequiredKeys;
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
