#pragma once

#include "Vellora/DayData/Block.h"

#include <QString>
#include <QWidget>

#include <array>
#include <optional>

class SlotRow;

// Marks the row where a moved item will land if it is let go now, drawn over the lifted row that would hide it.
// The place is the store's answer, not only the row under the pointer: an empty row of another block takes the item
// into that block's first free row, and a drop on the item's own block or row changes nothing.
class LandingMark : public QWidget
{
    Q_OBJECT

public:
    // Lies over the rows, on their parent.
    explicit LandingMark(QWidget *parent);

    using Rows = std::array<SlotRow *, kSheetRowCount>;
    // The row the item of `dragged` lands in when dropped on the row `target`; none when the drop changes nothing.
    static SlotRow *landingRow(const Rows &rows, const std::optional<QString> &dragged,
                               const std::optional<QString> &target);

    // Marks that row, or hides when there is none.
    void markRow(const SlotRow *row);
    QString markedSlot() const { return m_slot; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_slot;
};
