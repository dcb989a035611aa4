#pragma once

#include "JsonText/JsonParser.h"
#include "Vellora/DayData/DayStore.h"

#include <QByteArray>

#include <map>
#include <optional>

// Reads the store file straight into items: every command-line call and every launch reads the whole file.
//
// Takes any object with an "items" object whose items have every key they need, of the right kind; ignores keys it
// does not know. Anything else, and any text that is not JSON, gives nothing: the file is then set aside.
class StoreReader
{
public:
    // `bytes` is changed in place, as `JsonParser::parse` says.
    static std::optional<DayStore::Saved> read(QByteArray &bytes);

private:
    bool readItems(simdjson::dom::element value, std::map<QString, DayItem> &items);
    bool readItem(simdjson::dom::element value, DayItem &item);

    JsonParser::Shared m_lastDay;
};
