#include "Vellora/Sheet/LandingMark.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/Paper.h"
#include "Vellora/Sheet/SlotRow.h"

#include <QPainter>
#include <QPainterPath>

LandingMark::LandingMark(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("sheet.landing"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

SlotRow *LandingMark::landingRow(const Rows &rows, const std::optional<QString> &dragged,
                                 const std::optional<QString> &target)
{
    if (!dragged || !target)
        return nullptr;
    SlotRow *over = nullptr;
    std::optional<Block> from;
    for (SlotRow *row : rows) {
        if (row->id() == *target)
            over = row;
        if (row->item() && row->item()->id == *dragged)
            from = row->block();
    }
    if (!over)
        return nullptr;
    if (over->item()) // a swap, unless it is the item's own row
        return over->item()->id == *dragged ? nullptr : over;
    if (from == over->block())
        return nullptr; // an empty row of its own block: it stays where it is
    // The rows of a block are filled from the top: the first empty one is where an item added to it goes.
    for (SlotRow *row : rows) {
        if (row->block() == over->block() && !row->item())
            return row;
    }
    return nullptr;
}

void LandingMark::markRow(const SlotRow *row)
{
    if (!row) {
        m_slot.clear();
        hide();
        return;
    }
    m_slot = row->id();
    setGeometry(row->slotRect());
    show();
    raise(); // above the lifted row too
    update();
}

void LandingMark::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(Paper::palette(this).accent, Paper::kLandingMarkWidth);
    pen.setDashPattern({Paper::kLandingMarkDash, Paper::kLandingMarkDash / 2});
    painter.setPen(pen);
    const qreal inset = Paper::kLandingMarkWidth / 2;
    painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), Paper::kRowHighlightRadius,
                            Paper::kRowHighlightRadius);
}
