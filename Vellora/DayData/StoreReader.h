#pragma once

#include "JsonText/JsonParser.h"
#include "Vellora/DayData/DayStore.h"
#include "Vellora/DayData/StoreDamage.h"

#include <QByteArray>

#include <map>
#include <optional>

// Reads the store file straight into items: every command-line call and every launch reads the whole file.
//
// Takes any object with an "items" object; ignores keys it does not know. An item that lacks a key it needs, or holds
// a value of the wrong kind, is left out and counted in `damage`, and so is text that is not UTF-8, which is read
// as U+FFFD (such bytes never stand for JSON's own marks, so the rest reads as written). A byte-order mark at the
// start is skipped. Anything else, and any text that is not JSON, gives nothing: the file is then set aside whole.
class StoreReader
{
public:
    // `bytes` is changed in place, as `JsonParser::parse` says.
    static std::optional<DayStore::Saved> read(QByteArray &bytes, StoreDamage *damage = nullptr);

private:
    bool readItems(simdjson::dom::element value, std::map<QString, DayItem> &items, StoreDamage &damage);
    bool readItem(simdjson::dom::element value, DayItem &item);

    JsonParser::Shared m_lastDay;
};
