#include "SyncKit/Record.h"

#include <QJsonDocument>

namespace SyncKit {

namespace {

constexpr auto kSystemFieldsFormat = "vellora.systemFields";
constexpr int kSystemFieldsVersion = 1;

QString dateText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

std::optional<QDateTime> dateFromText(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    return time.toUTC();
}

// An optional date: absent is fine, present must be readable.
bool readOptionalDate(const QJsonObject &object, const char *key, std::optional<QDateTime> &out)
{
    if (!object.contains(QLatin1String(key)))
        return true;
    out = dateFromText(object.value(QLatin1String(key)));
    return out.has_value();
}

QJsonObject valueToJson(const RecordValue &value)
{
    struct Visitor
    {
        QJsonObject operator()(const QString &text) const { return {{"type", "text"}, {"value", text}}; }
        // As text: a JSON number cannot hold every 64-bit integer.
        QJsonObject operator()(qint64 number) const { return {{"type", "int64"}, {"value", QString::number(number)}}; }
        QJsonObject operator()(const QDateTime &time) const { return {{"type", "date"}, {"value", dateText(time)}}; }
        QJsonObject operator()(const QByteArray &bytes) const
        {
            return {{"type", "bytes"}, {"value", QString::fromLatin1(bytes.toBase64())}};
        }
    };
    return std::visit(Visitor{}, value);
}

std::optional<RecordValue> valueFromJson(const QJsonValue &json)
{
    const QJsonObject object = json.toObject();
    const QString type = object.value("type").toString();
    const QJsonValue value = object.value("value");
    if (!value.isString())
        return std::nullopt;
    if (type == "text")
        return value.toString();
    if (type == "int64") {
        bool ok = false;
        const qint64 number = value.toString().toLongLong(&ok);
        return ok ? std::optional<RecordValue>(number) : std::nullopt;
    }
    if (type == "date") {
        const auto time = dateFromText(value);
        return time ? std::optional<RecordValue>(*time) : std::nullopt;
    }
    if (type == "bytes") {
        auto bytes =
            QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        return bytes ? std::optional<RecordValue>(*bytes) : std::nullopt;
    }
    return std::nullopt;
}

QJsonObject systemFieldsJson(const Record &record)
{
    QJsonObject object{{"type", record.recordType()}, {"id", record.recordID().toJson()}};
    if (!record.recordChangeTag().isEmpty())
        object.insert("changeTag", record.recordChangeTag());
    if (record.creationDate())
        object.insert("created", dateText(*record.creationDate()));
    if (record.modificationDate())
        object.insert("modified", dateText(*record.modificationDate()));
    return object;
}

std::optional<Record> recordFromSystemFieldsJson(const QJsonObject &object)
{
    const QJsonValue type = object.value("type");
    const auto id = RecordID::fromJson(object.value("id"));
    const QJsonValue tag = object.value("changeTag");
    if (!type.isString() || !id || (object.contains("changeTag") && !tag.isString()))
        return std::nullopt;
    std::optional<QDateTime> created;
    std::optional<QDateTime> modified;
    if (!readOptionalDate(object, "created", created) || !readOptionalDate(object, "modified", modified))
        return std::nullopt;
    Record record(type.toString(), *id);
    record.setSystemFields(tag.toString(), created, modified);
    return record;
}

} // namespace

Record::Record(QString recordType, RecordID recordID)
    : m_recordType(std::move(recordType))
    , m_recordID(std::move(recordID))
{
}

std::optional<RecordValue> Record::value(const QString &key) const
{
    const auto found = m_fields.constFind(key);
    if (found == m_fields.constEnd())
        return std::nullopt;
    return *found;
}

void Record::setValue(const QString &key, RecordValue value)
{
    if (const auto *time = std::get_if<QDateTime>(&value))
        value = time->toUTC();
    m_fields.insert(key, std::move(value));
}

void Record::removeValue(const QString &key)
{
    m_fields.remove(key);
}

template<typename T>
static std::optional<T> typedValue(const QMap<QString, RecordValue> &fields, const QString &key)
{
    const auto found = fields.constFind(key);
    if (found == fields.constEnd())
        return std::nullopt;
    if (const T *value = std::get_if<T>(&*found))
        return *value;
    return std::nullopt;
}

std::optional<QString> Record::stringValue(const QString &key) const
{
    return typedValue<QString>(m_fields, key);
}

std::optional<qint64> Record::int64Value(const QString &key) const
{
    return typedValue<qint64>(m_fields, key);
}

std::optional<QDateTime> Record::dateValue(const QString &key) const
{
    return typedValue<QDateTime>(m_fields, key);
}

std::optional<QByteArray> Record::bytesValue(const QString &key) const
{
    return typedValue<QByteArray>(m_fields, key);
}

void Record::setSystemFields(QString changeTag, std::optional<QDateTime> created, std::optional<QDateTime> modified)
{
    m_changeTag = std::move(changeTag);
    m_creationDate = created ? std::optional(created->toUTC()) : std::nullopt;
    m_modificationDate = modified ? std::optional(modified->toUTC()) : std::nullopt;
}

QByteArray Record::encodeSystemFields() const
{
    QJsonObject object = systemFieldsJson(*this);
    object.insert("format", QLatin1String(kSystemFieldsFormat));
    object.insert("version", kSystemFieldsVersion);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<Record> Record::fromSystemFields(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    if (object.value("format").toString() != QLatin1String(kSystemFieldsFormat) ||
        object.value("version").toInt() != kSystemFieldsVersion)
        return std::nullopt;
    return recordFromSystemFieldsJson(object);
}

QJsonObject Record::toJson() const
{
    QJsonObject object = systemFieldsJson(*this);
    object.insert("fields", fieldsJson());
    return object;
}

QJsonObject Record::fieldsJson() const
{
    QJsonObject fields;
    for (auto it = m_fields.cbegin(); it != m_fields.cend(); ++it)
        fields.insert(it.key(), valueToJson(it.value()));
    return fields;
}

bool Record::setFieldsFromJson(const QJsonObject &fields)
{
    QMap<QString, RecordValue> read;
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        auto field = valueFromJson(it.value());
        if (!field)
            return false;
        read.insert(it.key(), std::move(*field));
    }
    m_fields = std::move(read);
    return true;
}

std::optional<Record> Record::fromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    auto record = recordFromSystemFieldsJson(object);
    const QJsonValue fields = object.value("fields");
    if (!record || !fields.isObject())
        return std::nullopt;
    if (!record->setFieldsFromJson(fields.toObject()))
        return std::nullopt;
    return record;
}

} // namespace SyncKit
