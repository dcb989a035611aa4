#pragma once

#include "Vellora/DayData/Block.h"

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
    Block block = Block::small;
    QString day;
    QDateTime modifiedAt; // orders the rows of a block and the Backlog
    std::optional<QByteArray> systemFields;
    // When the item was last changed, where that is later than modifiedAt: a swap or an Undo keeps the item's
    // place (an older modifiedAt) but is a newer change, and a conflict between two copies goes to the newer change.
    std::optional<QDateTime> changedAt = {};
    // When each part was last changed: the text, done, and the place (block, day and row). Two copies of an item
    // merge part by part, so that a tick, an edit and a move made on different computers all stay. None where the
    // part changed at changeTime(), as in files and records written before the parts were told apart.
    std::optional<QDateTime> titleChangedAt = {};
    std::optional<QDateTime> doneChangedAt = {};
    std::optional<QDateTime> placeChangedAt = {};

    bool operator==(const DayItem &) const = default;

    bool isInBacklog() const { return day == kOpenDay; }
    QDateTime changeTime() const { return changedAt.value_or(modifiedAt); }
    QDateTime titleTime() const { return titleChangedAt.value_or(changeTime()); }
    QDateTime doneTime() const { return doneChangedAt.value_or(changeTime()); }
    QDateTime placeTime() const { return placeChangedAt.value_or(changeTime()); }
    // Sets the time of each part that differs from `before` (all of them when there was none) to the item's change
    // time, and keeps the others' times. A new row alone (a swap, a step) is a change of place; a new row that
    // comes with a new text or a tick is not.
    void markChangedParts(const std::optional<DayItem> &before);
    // Leaves out the parts' times that equal the change time, as a file or record that left them out reads.
    void compactPartTimes();
    // Rows and the Backlog: the older change first, on equal times the lower id.
    static bool inOrder(const DayItem &a, const DayItem &b)
    {
        return a.modifiedAt != b.modifiedAt ? a.modifiedAt < b.modifiedAt : a.id < b.id;
    }

    // The item's object in the store file; dates in UTC to the millisecond, system fields as Base64.
    QJsonObject toJson() const;
};

// One item from two copies of it: each part from the copy that changed it later, on equal times from `theirs`,
// whose system fields it keeps. The row comes with the place.
DayItem mergedItem(const DayItem &ours, const DayItem &theirs);

// A change time as the item keeps it: changedAt only where it is later than modifiedAt.
std::optional<QDateTime> laterChange(const std::optional<QDateTime> &changedAt, const QDateTime &modifiedAt);

// The file's date form: 2025-03-05T08:01:02.345Z. Reading also takes whole seconds (files written before
// milliseconds were kept), any length of fraction (milliseconds kept), and an offset instead of Z.
QString fileDateString(const QDateTime &time);
std::optional<QDateTime> dateFromFileString(const QString &text);
std::optional<QDateTime> dateFromFileText(QByteArrayView text);

// The upper-case text of a new random UUID.
QString newItemId();
