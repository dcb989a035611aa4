#include "Vellora/Sheet/SheetBlocks.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperAccessible.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Sheet/SlotRow.h"

#include <QEvent>

SheetBlocks::SheetBlocks(QWidget *parent) : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    // The rows read as the items of one list, the sheet's.
    PaperAccessible::setRole(this, QAccessible::List);
    setAccessibleName(tr("Today"));
}

void SheetBlocks::addBlock(PaperLabel *heading, const QList<SlotRow *> &rows)
{
    heading->setParent(this);
    for (SlotRow *row : rows)
        row->setParent(this);
    m_blocks.append({heading, rows});
    relayout();
}

int SheetBlocks::layOut(int width, bool place) const
{
    int y = 0;
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        if (b > 0)
            y += Paper::kBlockSpacing;
        PaperLabel *heading = m_blocks[b].heading;
        const QSize headingSize = heading->sizeHint();
        if (place)
            heading->setGeometry(Paper::kHeadingPaddingLeft, y, width - Paper::kHeadingPaddingLeft,
                                 headingSize.height());
        y += headingSize.height() + Paper::kHeadingPaddingBottom;
        for (SlotRow *row : m_blocks[b].rows) {
            const int height = row->heightForWidth(width);
            if (place)
                row->setSlotRect(QRect(0, y, width, height));
            y += height;
        }
    }
    return y;
}

void SheetBlocks::relayout()
{
    const int height = layOut(width(), true);
    if (height != m_lastHeight) {
        m_lastHeight = height;
        updateGeometry();
        emit heightChanged();
    }
}

int SheetBlocks::heightForWidth(int width) const
{
    return layOut(width, false);
}

QSize SheetBlocks::sizeHint() const
{
    const int width = this->width() > 0 ? this->width() : 400;
    return QSize(width, heightForWidth(width));
}

bool SheetBlocks::event(QEvent *event)
{
    // A row asks for another height (a title that wraps, a field that grows, controls shown on hover).
    if (event->type() == QEvent::LayoutRequest)
        relayout();
    return QWidget::event(event);
}

void SheetBlocks::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout();
}
