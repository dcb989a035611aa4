#include "Vellora/Sheet/BacklogList.h"

#include "Vellora/Paper/FocusRing.h"
#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperAccessible.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperPlainButton.h"
#include "Vellora/Sheet/RowAccessible.h"
#include "Vellora/Sheet/RowKeys.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

QFont bringFont()
{
    return Paper::systemFont(Paper::kBringControlSize, QFont::DemiBold);
}

QFont deleteFont()
{
    return Paper::systemFont(Paper::kDeleteControlSize);
}

int controlWidth(const QFont &font, const QString &glyph)
{
    return int(std::ceil(QFontMetricsF(font).horizontalAdvance(glyph))) + 2 * Paper::kControlPadding;
}

} // namespace

BacklogRow::BacklogRow(QWidget *parent) : QWidget(parent)
{
    RowAccessible::install();
    setFocusPolicy(Qt::TabFocus);
    m_title = new PaperLabel(QStringLiteral("backlog.itemTitle"), Paper::Role::ink, Paper::handwriting(26), this);
    m_title->setMaxLines(Paper::kBacklogTitleMaxLines);
    // The same names on every row: they name the kind of control, not the item.
    m_bring = new PaperPlainButton(QStringLiteral("backlog.toToday"), QStringLiteral("→"), bringFont(),
                                   Paper::Role::accent, this);
    m_delete = new PaperPlainButton(QStringLiteral("backlog.delete"), QStringLiteral("×"), deleteFont(),
                                    Paper::Role::muted, this);
    connect(m_bring, &QAbstractButton::clicked, this, [this] { emit bringRequested(m_entry.item.id); });
    connect(m_delete, &QAbstractButton::clicked, this, [this] { emit deleteRequested(m_entry.item.id); });
}

int BacklogRow::titleWidth(int rowWidth)
{
    return rowWidth - 2 * Paper::kRowPaddingH - 2 * Paper::kRowSpacing -
           controlWidth(bringFont(), QStringLiteral("→")) - controlWidth(deleteFont(), QStringLiteral("×"));
}

void BacklogRow::setEntry(const BacklogEntry &entry, Paper::TextSize size)
{
    m_entry = entry;
    m_title->setFont(Paper::itemFont(entry.item.block, size));
    m_title->setText(entry.item.title);
    m_title->setRole(entry.hasRoom ? Paper::Role::ink : Paper::Role::faint);
    m_bring->setRole(entry.hasRoom ? Paper::Role::accent : Paper::Role::muted);
    m_bring->setOpacity(entry.hasRoom ? 1.0 : Paper::kUnavailableOpacity);
    m_bring->setEnabled(entry.hasRoom);
    const QString bringTip = entry.hasRoom ? tr("Bring back to Today") : tr("Its block on Today is full");
    // A tip on screen says what the row said before: it goes with the change rather than linger until the pointer
    // moves.
    if (bringTip != m_bring->toolTip() && QToolTip::isVisible() && QToolTip::text() == m_bring->toolTip())
        QToolTip::hideText();
    m_bring->setToolTip(bringTip);
    m_delete->setToolTip(tr("Delete"));
    const QString title = entry.item.title;
    const QString block = RowAccessible::blockWord(entry.item.block);
    setAccessibleName(entry.hasRoom ? tr("%1 task: %2").arg(block, title)
                                    : tr("%1 task: %2, waits for a free row").arg(block, title));
    m_bring->setAccessibleName(tr("Bring back %1").arg(title));
    m_delete->setAccessibleName(tr("Delete %1").arg(title));
    layOutParts();
}

void BacklogRow::layOutParts()
{
    const QRect area = rect().adjusted(Paper::kRowPaddingH, 0, -Paper::kRowPaddingH, 0);
    int right = area.right() + 1;
    for (PaperPlainButton *control : {m_delete, m_bring}) {
        const QSize size = control->sizeHint();
        right -= size.width();
        control->setGeometry(right, area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
        right -= Paper::kRowSpacing;
    }
    const int width = std::max(0, right - area.left());
    const int height = std::min(area.height(), m_title->heightForWidth(width));
    m_title->setGeometry(area.left(), area.top() + (area.height() - height) / 2, width, height);
}

void BacklogRow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layOutParts();
}

void BacklogRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(QRect(0, height() - Paper::kRuleHeight, width(), Paper::kRuleHeight), Paper::palette(this).rule);
    FocusRing::paintIfShown(painter, this, Paper::kRowHighlightRadius);
}

void BacklogRow::keyPressEvent(QKeyEvent *event)
{
    using RowKeys::Action;
    const std::optional<Action> action = RowKeys::actionFor(*event);
    if (action == Action::edit) {
        if (m_entry.hasRoom)
            emit bringRequested(m_entry.item.id);
    } else if (action == Action::remove) {
        emit deleteRequested(m_entry.item.id);
    } else if (action == Action::previous || action == Action::next) {
        emit focusNeighbourRequested(action == Action::next);
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

BacklogList::BacklogList(QWidget *parent) : QAbstractScrollArea(parent)
{
    // Its rows take the keyboard and scroll themselves into view; the rows read as the items of the Backlog's list.
    setFocusPolicy(Qt::NoFocus);
    PaperAccessible::setRole(viewport(), QAccessible::List);
    viewport()->setAccessibleName(tr("Backlog"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);

    m_note = new PaperLabel(QStringLiteral("backlog.full"), Paper::Role::muted, Paper::systemFont(Paper::kNoteSize),
                            viewport());
    m_note->setText(tr("Greyed items wait for a free row in their block on Today."));
    m_note->setMaxLines(0);
    m_note->hide();
    m_empty = new PaperLabel(QStringLiteral("backlog.empty"), Paper::Role::faint,
                             Paper::handwriting(Paper::emptyFontSize(m_size)), viewport());
    m_empty->setText(tr("Nothing here"));
    m_empty->setAlignment(Qt::AlignHCenter);
    m_empty->hide();
}

TitleMeasure::TitleMeasure(const QFont &font) : m_metrics(font), m_lineHeight(PaperLabel::lineHeight(font)) {}

std::optional<qreal> TitleMeasure::estimatedWidth(const QString &title)
{
    qreal width = 0;
    for (QChar c : title) {
        const char16_t u = c.unicode();
        if (u >= 0x0300)
            return std::nullopt;
        auto found = m_widths.constFind(u);
        if (found == m_widths.constEnd())
            found = m_widths.insert(u, m_metrics.horizontalAdvance(c));
        width += *found;
    }
    return width;
}

TitleMeasure::Fit TitleMeasure::estimate(const QString &title, qreal width)
{
    // Kerning and ligatures change a line's width by a few per cent; outside that band the estimate is sure.
    const qreal band = width * 0.08 + 4;
    const auto estimated = estimatedWidth(title);
    if (!estimated)
        return title.size() * m_metrics.averageCharWidth() <= width ? Fit::guessOneLine : Fit::guessTwoLines;
    if (*estimated < width - band)
        return Fit::oneLine;
    if (*estimated > width + band)
        return Fit::twoLines;
    return *estimated <= width ? Fit::guessOneLine : Fit::guessTwoLines;
}

TitleMeasure::Fit TitleMeasure::exact(const QString &title, qreal width) const
{
    return m_metrics.horizontalAdvance(title) <= width ? Fit::oneLine : Fit::twoLines;
}

void BacklogList::setEntries(std::vector<BacklogEntry> entries, bool showNote)
{
    // Keep what is known of titles that did not change; on a long list measuring is the expensive part.
    std::vector<Fit> fits(entries.size(), Fit::unknown);
    for (size_t i = 0, j = 0; i < entries.size() && j < m_entries.size();) {
        if (entries[i].item.id == m_entries[j].item.id) {
            if (entries[i].item.title == m_entries[j].item.title && entries[i].item.block == m_entries[j].item.block)
                fits[i] = m_fits[j];
            ++i;
            ++j;
        } else if (i + 1 < entries.size() && entries[i + 1].item.id == m_entries[j].item.id) {
            ++i; // an item came in
        } else {
            ++j; // an item went away
        }
    }
    m_entries = std::move(entries);
    m_fits = std::move(fits);
    m_showNote = showNote;
    relayout();
}

void BacklogList::setTextSize(Paper::TextSize size)
{
    if (size == m_size)
        return;
    m_size = size;
    m_empty->setFont(Paper::handwriting(Paper::emptyFontSize(size)));
    for (auto &measure : m_measures)
        measure.reset();
    std::fill(m_fits.begin(), m_fits.end(), Fit::unknown);
    relayout();
}

TitleMeasure &BacklogList::measureFor(Block block)
{
    auto &measure = m_measures[size_t(block)];
    if (!measure)
        measure = std::make_unique<TitleMeasure>(Paper::itemFont(block, m_size));
    return *measure;
}

int BacklogList::entryHeight(size_t index, int titleWidth)
{
    TitleMeasure &measure = measureFor(m_entries[index].item.block);
    Fit &fit = m_fits[index];
    if (fit == Fit::unknown)
        fit = measure.estimate(m_entries[index].item.title, titleWidth);
    // A title that does not fit on one line takes two: the second is the last one shown.
    const bool oneLine = fit == Fit::oneLine || fit == Fit::guessOneLine;
    const int lines = oneLine ? 1 : Paper::kBacklogTitleMaxLines;
    const int text = int(std::ceil(lines * measure.lineHeight()));
    // Every row is at least as high as a row of the medium block, whatever the item's own block.
    return std::max(Paper::rowHeight(Block::medium, m_size), text);
}

void BacklogList::stackRows(size_t from)
{
    int y = from == 0 ? m_listTop : m_tops[from - 1] + m_heights[from - 1];
    for (size_t i = from; i < m_entries.size(); ++i) {
        m_tops[i] = y;
        y += m_heights[i];
    }
    if (m_entries.empty())
        y += 2 * Paper::kEmptyGap + m_empty->sizeHint().height();
    QScrollBar *bar = verticalScrollBar();
    const bool placing = std::exchange(m_placing, true);
    bar->setRange(0, std::max(0, y - viewport()->height()));
    m_placing = placing;
}

void BacklogList::relayout()
{
    const int width = viewport()->width();
    const int titleWidth = BacklogRow::titleWidth(width);
    if (titleWidth != m_measuredWidth) {
        m_measuredWidth = titleWidth;
        std::fill(m_fits.begin(), m_fits.end(), Fit::unknown);
    }
    m_note->setVisible(m_showNote);
    m_listTop = m_showNote ? m_note->heightForWidth(width) + Paper::kNoteGap : 0;
    m_tops.resize(m_entries.size());
    m_heights.resize(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i)
        m_heights[i] = entryHeight(i, titleWidth);
    m_empty->setVisible(m_entries.empty());
    stackRows(0);

    QScrollBar *bar = verticalScrollBar();
    bar->setPageStep(viewport()->height());
    bar->setSingleStep(Paper::rowHeight(Block::medium, m_size) / 2);
    placeRows();
}

bool BacklogList::settleRowsInView()
{
    QScrollBar *bar = verticalScrollBar();
    const int top = bar->value();
    const int bottom = top + viewport()->height();
    const size_t first = size_t(std::upper_bound(m_tops.begin(), m_tops.end(), top) - m_tops.begin());
    bool changed = false;
    for (size_t i = first > 0 ? first - 1 : 0; i < m_entries.size() && m_tops[i] < bottom; ++i) {
        if (m_fits[i] != Fit::guessOneLine && m_fits[i] != Fit::guessTwoLines)
            continue;
        m_fits[i] = measureFor(m_entries[i].item.block).exact(m_entries[i].item.title, m_measuredWidth);
        const int height = entryHeight(i, m_measuredWidth);
        if (height == m_heights[i])
            continue;
        const int delta = height - m_heights[i];
        const bool aboveView = m_tops[i] < top;
        m_heights[i] = height;
        stackRows(i);
        // A row that grows or shrinks above the view must not push what is in view.
        if (aboveView)
            bar->setValue(top + delta);
        changed = true;
    }
    return changed;
}

void BacklogList::placeRows()
{
    if (m_placing)
        return;
    m_placing = true;
    // Each pass may change heights above the view; two or three passes settle it.
    for (int pass = 0; pass < 4 && settleRowsInView(); ++pass) {
    }
    m_placing = false;

    const int scroll = verticalScrollBar()->value();
    const int width = viewport()->width();
    const int bottom = scroll + viewport()->height();
    if (m_showNote)
        m_note->setGeometry(0, -scroll, width, m_note->heightForWidth(width));
    if (m_entries.empty())
        m_empty->setGeometry(0, Paper::kEmptyGap - scroll, width, m_empty->sizeHint().height());

    // The first row whose bottom is below the top of the view.
    const auto first = std::upper_bound(m_tops.begin(), m_tops.end(), scroll) - m_tops.begin();
    qsizetype used = 0;
    for (qsizetype i = std::max<qsizetype>(0, first - 1); i < qsizetype(m_entries.size()) && m_tops[size_t(i)] < bottom;
         ++i) {
        if (m_tops[size_t(i)] + m_heights[size_t(i)] <= scroll)
            continue;
        BacklogRow *row = rowFromPool(used++);
        row->setGeometry(0, m_tops[size_t(i)] - scroll, width, m_heights[size_t(i)]);
        row->setEntry(m_entries[size_t(i)], m_size);
        row->show();
    }
    for (qsizetype i = used; i < m_pool.size(); ++i)
        m_pool[i]->hide();
}

BacklogRow *BacklogList::rowFromPool(qsizetype index)
{
    while (m_pool.size() <= index) {
        auto *row = new BacklogRow(viewport());
        connect(row, &BacklogRow::bringRequested, this, &BacklogList::bringRequested);
        connect(row, &BacklogRow::deleteRequested, this, &BacklogList::deleteRequested);
        connect(row, &BacklogRow::focusNeighbourRequested, this,
                [this, row](bool forward) { focusNeighbour(row, forward); });
        m_pool.append(row);
    }
    return m_pool[index];
}

void BacklogList::focusNeighbour(const BacklogRow *row, bool forward)
{
    const auto found = std::find_if(m_entries.begin(), m_entries.end(),
                                    [row](const BacklogEntry &entry) { return entry.item.id == row->entry().item.id; });
    if (found == m_entries.end())
        return;
    const auto index = found - m_entries.begin() + (forward ? 1 : -1);
    if (index >= 0 && index < qsizetype(m_entries.size()))
        focusItem(m_entries[size_t(index)].item.id);
}

void BacklogList::focusItem(const QString &itemId)
{
    const auto found = std::find_if(m_entries.begin(), m_entries.end(),
                                    [&itemId](const BacklogEntry &entry) { return entry.item.id == itemId; });
    if (found == m_entries.end())
        return;
    const size_t index = size_t(found - m_entries.begin());
    QScrollBar *bar = verticalScrollBar();
    if (m_tops[index] < bar->value())
        bar->setValue(m_tops[index]);
    else if (m_tops[index] + m_heights[index] > bar->value() + viewport()->height())
        bar->setValue(m_tops[index] + m_heights[index] - viewport()->height());
    placeRows();
    for (BacklogRow *shown : visibleRows()) {
        if (shown->entry().item.id == itemId)
            shown->setFocus(Qt::TabFocusReason);
    }
}

QList<BacklogRow *> BacklogList::visibleRows() const
{
    QList<BacklogRow *> rows;
    for (BacklogRow *row : m_pool) {
        if (!row->isHidden())
            rows.append(row);
    }
    return rows;
}

void BacklogList::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void BacklogList::scrollContentsBy(int, int)
{
    placeRows();
}
