#pragma once

#include "SyncKit/RecordID.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <optional>
#include <variant>

namespace SyncKit {

// The value of one field of a record: text, a 64-bit integer, a point in time or bytes.
using RecordValue = std::variant<QString, qint64, QDateTime, QByteArray>;

// One record of a cloud database: its type, its identity, its typed fields, and the system fields that the
// server keeps (change tag, creation and modification date). A record that was never saved has no change tag.
class Record
{
public:
    Record() = default; // no type, no identity: only a placeholder in containers
    Record(QString recordType, RecordID recordID);

    const QString &recordType() const { return m_recordType; }
    const RecordID &recordID() const { return m_recordID; }

    const QMap<QString, RecordValue> &fields() const { return m_fields; }
    std::optional<RecordValue> value(const QString &key) const;
    void setValue(const QString &key, RecordValue value);
    void removeValue(const QString &key);

    // A field read as one type; a missing field or one of another type gives nothing.
    std::optional<QString> stringValue(const QString &key) const;
    std::optional<qint64> int64Value(const QString &key) const;
    std::optional<QDateTime> dateValue(const QString &key) const;
    std::optional<QByteArray> bytesValue(const QString &key) const;

    // Set by the server when it stores the record; empty before the first save.
    const QString &recordChangeTag() const { return m_changeTag; }
    const std::optional<QDateTime> &creationDate() const { return m_creationDate; }
    const std::optional<QDateTime> &modificationDate() const { return m_modificationDate; }
    void setSystemFields(QString changeTag, std::optional<QDateTime> created, std::optional<QDateTime> modified);

    // The record's type, identity and system fields, without its fields: what a client keeps so that its next
    // save updates the same server record. A versioned form of our own.
    QByteArray encodeSystemFields() const;
    // The record those bytes describe, with no fields; nothing when the bytes are not such a form.
    static std::optional<Record> fromSystemFields(const QByteArray &bytes);

    // The whole record as JSON, for carrying it over a network.
    QJsonObject toJson() const;
    static std::optional<Record> fromJson(const QJsonValue &value);
    // The fields alone in that form; and the fields replaced by those of such an object (false, and the fields
    // unchanged, when one of them cannot be read).
    QJsonObject fieldsJson() const;
    bool setFieldsFromJson(const QJsonObject &fields);

    bool operator==(const Record &) const = default;

private:
    QString m_recordType;
    RecordID m_recordID;
    QMap<QString, RecordValue> m_fields;
    QString m_changeTag;
    std::optional<QDateTime> m_creationDate;
    std::optional<QDateTime> m_modificationDate;
};

} // namespace SyncKit
