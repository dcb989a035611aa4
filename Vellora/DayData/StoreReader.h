#pragma once

#include "Vellora/DayData/DayStore.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

// Reads the store file straight into items, without building a JSON document first: every command-line call and
// every launch reads the whole file, and the general parser is most of that time.
//
// It takes only the plain form this program writes and gives up on anything unusual (unknown keys, duplicate
// keys, control characters, rare escapes, a byte-order mark...). Giving up means "not sure", not "unreadable": the
// caller then reads the text with the general parser, which also decides whether it can be read at all. So when
// it gives a result, it is the one the general parser gives.
class StoreReader
{
public:
    static std::optional<DayStore::Saved> read(QByteArrayView bytes);

private:
    explicit StoreReader(QByteArrayView bytes);

    bool readRoot(DayStore::Saved &saved);
    bool readItems(std::map<QString, DayItem> &items);
    bool readItem(DayItem &item);
    bool readState(std::optional<DayStore::Serialization> &state);

    bool readString(QString &text);
    // A key or value of printable ASCII with no escapes, as it stands in the file.
    bool readPlain(QByteArrayView &text);
    bool readBool(bool &value);
    bool skipValue(); // an object or array, for a part the general parser reads
    bool take(char c);
    void skipSpace();
    bool atEnd() const { return m_at == m_end; }

    const char *m_at;
    const char *m_end;
    QString m_lastDay;
};
