#include "Vellora/Sheet/SheetView.h"

#include "Vellora/Sheet/StoreRefresh.h"

#include "Vellora/DayData/Calendar.h"
#include "Vellora/DayData/SheetText.h"
#include "Vellora/Paper/FocusRing.h"
#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperAccessible.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/ScrollHint.h"
#include "Vellora/Sheet/CountBadge.h"
#include "Vellora/Sheet/LandingMark.h"
#include "Vellora/Sheet/NoteBar.h"
#include "Vellora/Sheet/SheetBlocks.h"
#include "Vellora/Sheet/SlotField.h"
#include "Vellora/Sheet/SlotRow.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>

namespace {

// A rectangle holds a point on its top and left edges but not on its bottom and right ones, so that of two rows
// that touch, their common edge belongs to the lower one.
bool holds(const QRectF &rect, QPointF point)
{
    return !rect.isEmpty() && rect.left() <= point.x() && point.x() < rect.right() && rect.top() <= point.y() &&
           point.y() < rect.bottom();
}

} // namespace

SheetView::SheetView(DayStore &store, Paper::TextSize size, QWidget *parent)
    : QWidget(parent), m_store(store), m_size(size)
{
    setObjectName(QStringLiteral("sheet"));
    setAccessibleName(tr("Today"));
    setFocusPolicy(Qt::StrongFocus); // keys typed while no row is open come here
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(Paper::kPagePaddingH, Paper::kPagePaddingTop, Paper::kPagePaddingH,
                               Paper::kPagePaddingBottom);
    layout->setSpacing(0);
    buildHeader();
    buildBlocks();
    buildFooter();

    m_refresh = new StoreRefresh(m_store, *this, [this] { refresh(); });
    refresh();
}

SheetView::~SheetView()
{
    // The note's button would act on a sheet that is gone.
    if (!m_typed.isEmpty() && m_notes)
        m_notes->hideNote();
}

void SheetView::buildHeader()
{
    m_title = new PaperLabel(QStringLiteral("sheet.title"), Paper::Role::ink, Paper::titleFont(), this);
    m_title->setText(QStringLiteral("Today"));
    PaperAccessible::setRole(m_title, QAccessible::Heading);
    m_status = new PaperLabel(QStringLiteral("sheet.status"), Paper::Role::muted,
                              Paper::systemFont(Paper::kStatusSize, QFont::DemiBold), this);
    m_date = new PaperLabel(QStringLiteral("sheet.date"), Paper::Role::muted,
                            Paper::systemFont(Paper::kStatusSize, QFont::DemiBold), this);

    auto *titles = new QVBoxLayout;
    titles->setSpacing(Paper::kTitleStackSpacing);
    titles->addWidget(m_title);
    titles->addWidget(m_status);

    auto *date = new QVBoxLayout;
    date->setContentsMargins(0, Paper::kDateTopPadding, 0, 0);
    date->addWidget(m_date);
    date->addStretch();

    auto *header = new QHBoxLayout;
    header->setSpacing(Paper::kHeaderSpacing);
    header->addLayout(titles);
    header->addStretch();
    header->addLayout(date);

    auto *page = static_cast<QVBoxLayout *>(layout());
    page->addLayout(header);
    m_headerGap = new QSpacerItem(0, Paper::kHeaderGap, QSizePolicy::Minimum, QSizePolicy::Fixed);
    page->addSpacerItem(m_headerGap);
}

void SheetView::buildBlocks()
{
    m_blocks = new SheetBlocks;
    int index = 0;
    for (Block block : kAllBlocks) {
        auto *heading = new PaperLabel(QString(), Paper::Role::muted,
                                       Paper::systemFont(Paper::kHeadingSize, QFont::Bold, Paper::kHeadingTracking));
        heading->setText(blockHeading(block));
        PaperAccessible::setRole(heading, QAccessible::Heading);
        m_headings.append(heading);
        QList<SlotRow *> rows;
        for (int i = 0; i < capacity(block); ++i) {
            auto *row = new SlotRow(slotId(block, i), block, blockPlaceholder(block));
            row->setTextSize(m_size);
            row->setCoordinateSpace(this);
            row->setCallbacks(callbacksFor(row));
            m_rows[size_t(index++)] = row;
            rows.append(row);
        }
        m_blocks->addBlock(heading, rows);
    }

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("sheet.blocks"));
    m_scroll->setFocusPolicy(Qt::NoFocus); // its rows take the keyboard and scroll themselves into view
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->setWidget(m_blocks);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_blocks->setAutoFillBackground(false);
    connect(m_blocks, &SheetBlocks::heightChanged, this, [this] {
        // Lets the scroll area take the blocks' new height now rather than after the next layout pass.
        QEvent request(QEvent::LayoutRequest);
        QCoreApplication::sendEvent(m_scroll, &request);
        updateGeometry(); // the page asks for another height: the paper and the margins follow
        setTight(height() < sizeHint().height());
        keepOpenRowInView();
    });
    // The blocks squeeze into the view before they scroll; the view's size follows the window's.
    m_scroll->viewport()->installEventFilter(this);
    new ScrollHint(m_scroll);
    static_cast<QVBoxLayout *>(layout())->addWidget(m_scroll, 1);
}

void SheetView::buildFooter()
{
    m_backlogButton = new PaperButtonStyle(QStringLiteral("sheet.backlog"), QStringLiteral("← Backlog"), false, this);
    m_badge = new CountBadge(QStringLiteral("sheet.backlogCount"));
    m_backlogButton->setAccessory(m_badge);
    m_settingsButton = new PaperButtonStyle(QStringLiteral("sheet.settings"), QStringLiteral("⚙"), false, this);
    m_settingsButton->setFont(Paper::systemFont(Paper::kGearSize, QFont::Medium));
    m_settingsButton->setToolTip(tr("Settings"));
    // The glyphs say nothing to a screen reader.
    m_backlogButton->setAccessibleName(tr("Backlog"));
    m_settingsButton->setAccessibleName(tr("Settings"));
    connect(m_backlogButton, &QAbstractButton::clicked, this, [this] {
        keepWhatWasTyped();
        emit openBacklogRequested();
    });
    connect(m_settingsButton, &QAbstractButton::clicked, this, [this] {
        keepWhatWasTyped();
        emit openSettingsRequested();
    });

    auto *footer = new QHBoxLayout;
    footer->setSpacing(Paper::kFooterSpacing);
    footer->addWidget(m_backlogButton, 0, Qt::AlignVCenter);
    footer->addStretch();
    footer->addWidget(m_settingsButton, 0, Qt::AlignVCenter);
    auto *page = static_cast<QVBoxLayout *>(layout());
    m_footerGap = new QSpacerItem(0, Paper::kFooterGap, QSizePolicy::Minimum, QSizePolicy::Fixed);
    page->addSpacerItem(m_footerGap);
    page->addLayout(footer);
}

SlotRow::Callbacks SheetView::callbacksFor(SlotRow *row)
{
    const QString slot = row->id();
    SlotRow::Callbacks callbacks;
    callbacks.onBeginEdit = [this, slot] { beginEdit(slot); };
    callbacks.onEndEdit = [this, slot](bool advance) { endEdit(slot, advance); };
    callbacks.onTab = [this, slot](bool forward) {
        if (m_editingSlot == slot)
            setEditingSlot(slotNext(slot, forward));
    };
    callbacks.onCommit = [this, row](const QString &text) {
        const auto kind = row->item() ? UndoHistory::Kind::edit : UndoHistory::Kind::add;
        change(kind, [&] {
            if (row->item())
                m_store.updateTitle(row->item()->id, text);
            else
                m_store.addItem(text, row->block());
        });
    };
    callbacks.onCommitLines = [this, row](const QStringList &titles) { addPasted(titles, row->block()); };
    callbacks.onLimitReached = [this] {
        if (m_notes)
            m_notes->showNote(tr("1,000 characters: the most a task can hold"));
    };
    const auto withItem = [this, row](UndoHistory::Kind kind, void (DayStore::*operation)(const QString &)) {
        return [this, row, kind, operation] {
            if (row->item())
                change(kind, [&] { (m_store.*operation)(row->item()->id); });
        };
    };
    callbacks.onToggle = withItem(UndoHistory::Kind::tick, &DayStore::toggleDone);
    callbacks.onDelete = withItem(UndoHistory::Kind::remove, &DayStore::deleteItem);
    callbacks.onStepUp = [this, row] { step(row, -1); };
    callbacks.onStepDown = [this, row] { step(row, +1); };
    callbacks.onSendToBacklog = [this, row] {
        if (row->item())
            change(UndoHistory::Kind::toBacklog, [&] { m_store.sendToBacklog(row->item()->id); });
    };
    callbacks.onFocusNeighbour = [this, slot](bool forward) {
        if (const auto next = slotNext(slot, forward))
            focusRow(*next);
    };
    callbacks.onMoveBegan = [this, row] {
        m_dragged = row->item() ? std::optional(row->item()->id) : std::nullopt;
        updateHighlights();
    };
    callbacks.onMoveChanged = [this](QPointF location) {
        m_target = slotAt(location);
        updateHighlights();
    };
    callbacks.onMoveEnded = [this, row](QPointF location) {
        // The row under the release is looked up afresh, not taken from the last change.
        if (row->item()) {
            if (const auto slot = slotAt(location))
                change(UndoHistory::Kind::move, [&] { dropDragged(row->item()->id, *slot); });
        }
        m_dragged.reset();
        m_target.reset();
        updateHighlights();
    };
    return callbacks;
}

void SheetView::setTextSize(Paper::TextSize size)
{
    if (size == m_size)
        return;
    m_size = size;
    for (SlotRow *row : m_rows)
        row->setTextSize(size);
    m_blocks->relayout();
}

void SheetView::setClock(Clock clock)
{
    m_clock = std::move(clock);
    m_shownDate = QDate();
    refreshDate();
}

SlotRow *SheetView::row(const QString &slotId) const
{
    for (SlotRow *row : m_rows) {
        if (row->id() == slotId)
            return row;
    }
    return nullptr;
}

const QStringList &SheetView::slotIds()
{
    static const QStringList ids = [] {
        QStringList result;
        for (Block block : kAllBlocks) {
            for (int i = 0; i < capacity(block); ++i)
                result.append(slotId(block, i));
        }
        return result;
    }();
    return ids;
}

std::optional<QString> SheetView::slotNext(const QString &slotId, bool forward)
{
    const qsizetype index = slotIds().indexOf(slotId);
    const qsizetype next = index + (forward ? 1 : -1);
    if (index < 0 || next < 0 || next >= slotIds().size())
        return std::nullopt;
    return slotIds()[next];
}

SheetView::Frames SheetView::frames() const
{
    // Only the part of a row inside the scroll area's view is on screen and can be pointed at.
    const QRect view(m_scroll->viewport()->mapTo(this, QPoint()), m_scroll->viewport()->size());
    Frames result;
    for (const SlotRow *row : m_rows) {
        const QRect slot = row->slotRect();
        const QRect onSheet = QRect(m_blocks->mapTo(this, slot.topLeft()), slot.size()).intersected(view);
        if (!onSheet.isEmpty())
            result.append({row->id(), QRectF(onSheet)});
    }
    return result;
}

std::optional<QString> SheetView::slotAt(QPointF point) const
{
    for (const auto &[slot, rect] : frames()) {
        if (holds(rect, point))
            return slot;
    }
    return std::nullopt;
}

void SheetView::dropDragged(const QString &itemId, const QString &slotId)
{
    const SlotRow *target = row(slotId);
    if (!target)
        return;
    // The store as it is now, which a sync may have changed since the rows were drawn.
    const QList<DayItem> items = m_store.itemsIn(target->block());
    const qsizetype index = slotId.section(QLatin1Char('.'), 2).toInt();
    if (index >= items.size())
        m_store.placeItem(itemId, std::nullopt, target->block());
    else if (items[index].id != itemId) // not dropped back on its own row
        m_store.placeItem(itemId, items[index].id, target->block());
}

void SheetView::refreshIfNeeded()
{
    m_refresh->refreshIfNeeded();
}

void SheetView::change(UndoHistory::Kind kind, const std::function<void()> &operation)
{
    m_refresh->change(m_history, kind, operation);
}

void SheetView::step(SlotRow *row, int by)
{
    if (!row->item())
        return;
    const QString id = row->item()->id;
    const bool focused = row->hasFocus();
    change(UndoHistory::Kind::move, [&] { m_store.stepItem(id, by); });
    // The keyboard stays with the task it moves, so that the next step moves it on rather than its neighbour.
    if (!focused)
        return;
    for (SlotRow *now : m_rows) {
        if (now->item() && now->item()->id == id)
            return focusRow(now->id());
    }
}

void SheetView::keyPressEvent(QKeyEvent *event)
{
    if (!m_editingSlot && typeWithoutRow(event))
        return;
    // The arrows lead from the sheet into its rows.
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (!m_editingSlot && plain && (event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) && hasFocus()) {
        focusRow(event->key() == Qt::Key_Down ? slotIds().first() : slotIds().last());
        return;
    }
    QWidget::keyPressEvent(event);
}

void SheetView::refresh()
{
    m_refresh->markDrawn();
    const auto &items = m_store.saved().items;
    m_status->setText(itemCountText(qsizetype(items.size())));
    qint64 backlog = 0;
    for (const auto &entry : items)
        backlog += entry.second.isInBacklog() ? 1 : 0;
    m_badge->setCount(backlog);
    m_badge->setVisible(backlog > 0);
    m_backlogButton->setAccessibleDescription(backlog == 1 ? tr("1 task waiting")
                                                           : tr("%1 tasks waiting").arg(backlog));

    int index = 0;
    for (Block block : kAllBlocks) {
        // Items past the block's rows (possible after a sync) are not shown until rows free up.
        const QList<DayItem> shown = m_store.itemsIn(block);
        for (int i = 0; i < capacity(block); ++i) {
            SlotRow *row = m_rows[size_t(index++)];
            const std::optional<DayItem> item = i < shown.size() ? std::optional(shown[i]) : std::nullopt;
            row->setItem(item);
            const bool firstOfAll = block == Block::big && i == 0;
            const bool lastOfAll = block == Block::small && i == capacity(block) - 1;
            row->setStepping(item && !firstOfAll, item && !lastOfAll);
        }
    }
    updateHighlights();
    refreshDate();
    m_blocks->relayout();
}

void SheetView::refreshDate()
{
    // The current time, not the store's day: before the next start of a day they differ.
    const QDateTime now = m_clock ? m_clock() : QDateTime::currentDateTime();
    if (now.toLocalTime().date() == m_shownDate)
        return; // formatting a date is slow, and the line only changes with the day
    m_shownDate = now.toLocalTime().date();
    m_date->setText(dateLine(now));
}

void SheetView::setEditingSlot(const std::optional<QString> &slotId)
{
    if (slotId == m_editingSlot)
        return;
    const std::optional<QString> previous = m_editingSlot;
    m_editingSlot = slotId;
    if (previous) {
        if (SlotRow *old = row(*previous))
            old->setEditing(false);
        // Keys typed next come to the sheet, not to nowhere; an edit begun from the keyboard gives the focus back
        // to its row.
        if (!m_editingSlot && isVisible() &&
            (!QApplication::focusWidget() || QApplication::focusWidget() == window())) {
            if (std::exchange(m_editFromKeyboard, false))
                focusRow(*previous);
            else
                setFocus(Qt::OtherFocusReason);
        }
    }
    if (m_editingSlot) {
        if (SlotRow *now = row(*m_editingSlot)) {
            now->setEditing(true);
            scrollToRow(now);
        }
    }
}

void SheetView::focusRow(const QString &slotId)
{
    if (SlotRow *target = row(slotId)) {
        // A keyboard move: the row shows its focus ring, also when a click came before.
        window()->setAttribute(Qt::WA_KeyboardFocusChange);
        target->setFocus(Qt::TabFocusReason);
        scrollToRow(target);
    }
}

void SheetView::beginEdit(const QString &slotId)
{
    // Opened on a focused row, or by Tab from a row opened that way.
    const QWidget *focus = QApplication::focusWidget();
    m_editFromKeyboard = (qobject_cast<const SlotRow *>(focus) && FocusRing::shown(focus)) ||
                         (m_editFromKeyboard && qobject_cast<const SlotField *>(focus));
    if (m_editingSlot && *m_editingSlot != slotId)
        finishOpenEdit();
    setEditingSlot(slotId);
}

void SheetView::endEdit(const QString &slotId, bool advance)
{
    // A row that is no longer the editing row has nothing to say about editing.
    if (m_editingSlot != slotId)
        return;
    const std::optional<QString> next = advance ? slotNext(slotId, true) : std::nullopt;
    // Return in the last row ends a list typed row after row on that row, with its ring, as a keyboard move would.
    if (advance && !next)
        m_editFromKeyboard = true;
    setEditingSlot(next);
}

void SheetView::finishOpenEdit()
{
    if (!m_editingSlot)
        return;
    if (SlotRow *open = row(*m_editingSlot))
        open->commit(false);
    setEditingSlot(std::nullopt);
}

void SheetView::updateHighlights()
{
    for (SlotRow *row : m_rows) {
        const bool highlighted = m_target == row->id() && m_dragged && (!row->item() || row->item()->id != *m_dragged);
        row->setHighlighted(highlighted);
    }
    if (!m_landing)
        m_landing = new LandingMark(m_rows.front()->parentWidget());
    m_landing->markRow(LandingMark::landingRow(m_rows, m_dragged, m_target));
}

void SheetView::mousePressEvent(QMouseEvent *event)
{
    // A click anywhere on the sheet that no row or button takes ends the edit.
    if (event->button() == Qt::LeftButton)
        finishOpenEdit();
    event->accept();
}

void SheetView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_refresh->isDirty())
        refresh();
    else
        refreshDate();
}
