// How the Today sheet fits its window: the height it asks for, the margins and room it gives up where the window is
// short, and the open row kept in view. Kept apart from the sheet's rows and typing.
#include "Vellora/Sheet/SheetView.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Sheet/SheetBlocks.h"

#include <QApplication>
#include <QBoxLayout>
#include <QScrollArea>

namespace {

// What the page's margins give up where it is short of room.
constexpr int kTightSaving = (Paper::kPagePaddingTop - Paper::kPagePaddingTopTight) +
                             (Paper::kPagePaddingBottom - Paper::kPagePaddingBottomTight) +
                             (Paper::kHeaderGap - Paper::kHeaderGapTight) +
                             (Paper::kFooterGap - Paper::kFooterGapTight);

} // namespace

QSize SheetView::sizeHint() const
{
    // The scroll area's own hint says nothing of the blocks: the page asks for all of them at the spec's sizes.
    QSize hint = QWidget::sizeHint();
    const int width = m_blocks->width() > 0 ? m_blocks->width()
                                            : Paper::kWindowWidth - 2 * (Paper::kSheetMargin + Paper::kPagePaddingH);
    hint.setHeight(hint.height() - m_scroll->sizeHint().height() + m_blocks->naturalHeight(width) +
                   (m_tight ? kTightSaving : 0));
    return hint;
}

void SheetView::resizeEvent(QResizeEvent *event)
{
    // Short of the room the spec's sizes need, the page's margins shrink first, then the room around the rows.
    setTight(height() < sizeHint().height());
    QWidget::resizeEvent(event);
}

void SheetView::setTight(bool tight)
{
    if (tight == m_tight)
        return;
    m_tight = tight;
    layout()->setContentsMargins(Paper::kPagePaddingH, tight ? Paper::kPagePaddingTopTight : Paper::kPagePaddingTop,
                                 Paper::kPagePaddingH,
                                 tight ? Paper::kPagePaddingBottomTight : Paper::kPagePaddingBottom);
    m_headerGap->changeSize(0, tight ? Paper::kHeaderGapTight : Paper::kHeaderGap, QSizePolicy::Minimum,
                            QSizePolicy::Fixed);
    m_footerGap->changeSize(0, tight ? Paper::kFooterGapTight : Paper::kFooterGap, QSizePolicy::Minimum,
                            QSizePolicy::Fixed);
    layout()->invalidate();
}

bool SheetView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize) {
        m_blocks->setFitHeight(m_scroll->viewport()->height());
        keepOpenRowInView();
    }
    return QWidget::eventFilter(watched, event);
}

void SheetView::keepOpenRowInView()
{
    QWidget *open = m_editingSlot ? row(*m_editingSlot) : nullptr;
    if (!open && QApplication::focusWidget() && m_blocks->isAncestorOf(QApplication::focusWidget()))
        open = QApplication::focusWidget();
    if (open)
        scrollToRow(open);
}

void SheetView::scrollToRow(QWidget *row)
{
    // Clear of the fades at the edges, which hide a little of what lies under them.
    m_scroll->ensureWidgetVisible(row, 0, Paper::kScrollFadeHeight);
}
