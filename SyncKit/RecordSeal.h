#pragma once

#include "SyncKit/AccountKey.h"
#include "SyncKit/Record.h"

#include <optional>

// A record's fields sealed into one value with the account key, so that the server keeps and returns them without
// being able to read them. The zone and record name (and whether it is a save or a tombstone) are bound in as
// associated data: a sealed value moved to another record, zone or kind does not open.
namespace SyncKit::RecordSeal {

inline const QString kSealedField = QStringLiteral("sealed");

enum class Kind { save, tombstone };

// The same record (type, identity, system fields) whose only field is "sealed": a version byte, the nonce and the
// sealed JSON of the fields.
Record seal(const Record &record, const AccountKey &key, Kind kind);

// The record with its fields opened; nothing when it is not sealed, or does not open with this key for this
// record and kind (damaged, moved, or sealed with another key).
std::optional<Record> open(const Record &record, const AccountKey &key, Kind kind);

// Whether the record's fields are exactly one sealed value (the server's test; it cannot open it).
bool isSealed(const Record &record);
// The same on the wire form of the fields.
bool isSealedFields(const QJsonObject &fields);

} // namespace SyncKit::RecordSeal
