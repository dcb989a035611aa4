#pragma once

#include "JsonText/JsonReader.h"
#include "Vellora/DayData/DayStore.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

// Reads the store file straight into items, without building a JSON document first: every command-line call and
// every launch reads the whole file, and the general parser was most of that time.
//
// It takes only the form this program writes and gives up on anything else (unknown or repeated keys, unusual
// text): the caller then reads the file with the general parser, which also decides whether it can be read at
// all. So when it gives a result, it is the one the general parser gives.
class StoreReader
{
public:
    static std::optional<DayStore::Saved> read(QByteArrayView bytes);

private:
    explicit StoreReader(QByteArrayView bytes) : m_json(bytes) {}

    bool readRoot(DayStore::Saved &saved);
    bool readItems(std::map<QString, DayItem> &items);
    bool readItem(DayItem &item);
    bool readState(std::optional<DayStore::Serialization> &state);

    JsonReader m_json;
    QString m_lastDay;
};
