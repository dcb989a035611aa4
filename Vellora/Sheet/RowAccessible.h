#pragma once

#include "Vellora/DayData/DayItem.h"

#include <QAccessibleWidget>

#include <optional>

// How a row of Today or of the Backlog reads to assistive technology: a list item whose name, kept by the row,
// says where it is and what it holds. A row of Today that holds a task is checkable, and checked when it is done.
class RowAccessible : public QAccessibleWidget
{
public:
    explicit RowAccessible(QWidget *row);

    QAccessible::State state() const override;

    // Makes rows read as RowAccessible; called before the first row is made, does its work once.
    static void install();
    // "Big", "Medium" or "Small": the block as rows name it.
    static QString blockWord(Block block);
    // "Medium task 2 of 3": where a row of Today is; position counts from 1.
    static QString slotPlace(Block block, int position);
    // "Medium task 2 of 3: Book the dentist, done", or "Medium task 3 of 3: empty"; position counts from 1.
    static QString slotName(Block block, int position, const std::optional<DayItem> &item);
};
