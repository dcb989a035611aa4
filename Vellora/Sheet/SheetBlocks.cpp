#include "Vellora/Sheet/SheetBlocks.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperAccessible.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Sheet/SlotRow.h"

#include <QEvent>

#include <cmath>

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

namespace {

// Where a height lies between its tight and its natural value: `part` of the room between them is kept.
int between(int tight, int natural, qreal part)
{
    return tight + int(std::floor((natural - tight) * part));
}

} // namespace

int SheetBlocks::layOut(int width, int fitHeight, bool place) const
{
    // Each row's height as the spec gives it, and the least it may shrink to.
    struct Heights
    {
        int natural;
        int tight;
    };
    QList<Heights> rows;
    int natural = 0;
    int tight = 0;
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        const int heading = m_blocks[b].heading->sizeHint().height() + Paper::kHeadingPaddingBottom;
        natural += heading + (b > 0 ? Paper::kBlockSpacing : 0);
        tight += heading + (b > 0 ? Paper::kBlockSpacingTight : 0);
        for (const SlotRow *row : m_blocks[b].rows) {
            rows.append({row->heightForWidth(width), row->tightHeightForWidth(width)});
            natural += rows.last().natural;
            tight += rows.last().tight;
        }
    }
    // The part of the room above the tight sizes that the fit height leaves: 1 where everything fits as given.
    qreal part = 1;
    if (fitHeight > 0 && natural > fitHeight)
        part = natural > tight ? std::max<qreal>(0, qreal(fitHeight - tight) / (natural - tight)) : 0;

    int y = 0;
    qsizetype index = 0;
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        if (b > 0)
            y += between(Paper::kBlockSpacingTight, Paper::kBlockSpacing, part);
        PaperLabel *heading = m_blocks[b].heading;
        const int headingHeight = heading->sizeHint().height();
        if (place)
            heading->setGeometry(Paper::kHeadingPaddingLeft, y, width - Paper::kHeadingPaddingLeft, headingHeight);
        y += headingHeight + Paper::kHeadingPaddingBottom;
        for (SlotRow *row : m_blocks[b].rows) {
            const Heights &height = rows[index++];
            const int h = between(height.tight, height.natural, part);
            if (place)
                row->setSlotRect(QRect(0, y, width, h));
            y += h;
        }
    }
    return y;
}

int SheetBlocks::naturalHeight(int width) const
{
    return layOut(width, 0, false);
}

void SheetBlocks::setFitHeight(int height)
{
    if (height == m_fitHeight)
        return;
    m_fitHeight = height;
    relayout();
}

void SheetBlocks::relayout()
{
    const int height = layOut(width(), m_fitHeight, true);
    if (height != m_lastHeight) {
        m_lastHeight = height;
        updateGeometry();
        emit heightChanged();
    }
}

int SheetBlocks::heightForWidth(int width) const
{
    return layOut(width, m_fitHeight, false);
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
