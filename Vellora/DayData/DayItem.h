#pragma once

#include "Vellora/DayData/Bucket.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <string_view>

// The day key of an item in the Backlog.
inline const QString kOpenDay = QStringLiteral("open");

// One task.
struct DayItem
{
    QString id;
    QString title;
    bool done = false;
    Bucket bucket = Bucket::small;
    QString day;
    QDateTime modifiedAt;
    std::optional<QByteArray> systemFields;

    bool operator==(const DayItem &) const = default;

    bool isInBacklog() const { return day == kOpenDay; }

    // The item's object in the store file; dates in UTC with whole seconds, system fields as Base64.
    QJsonObject toJson() const;
};

// The file's date form: 2025-03-05T08:01:02Z. Reading rejects fractions of a second and other forms.
QString fileDateString(const QDateTime &time);
// The same as ASCII, without making a string: saves write one per item.
struct FileDateText
{
    char text[40]; // room for any year a date can hold
    qsizetype size;
    operator std::string_view() const { return {text, size_t(size)}; }
};
FileDateText fileDateText(const QDateTime &time);
std::optional<QDateTime> dateFromFileString(const QString &text);
std::optional<QDateTime> dateFromFileText(QByteArrayView text);

// The upper-case text of a new random UUID.
QString newItemId();
