#pragma once

#include "Vellora/DayData/DayStore.h"
#include "Vellora/Paper/Paper.h"
#include "Vellora/Sheet/NoteBar.h"
#include "Vellora/Sheet/SlotRow.h"
#include "Vellora/Sheet/UndoHistory.h"

#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class StoreRefresh;
class CountBadge;
class LandingMark;
class PaperButtonStyle;
class PaperLabel;
class QScrollArea;
class QSpacerItem;
class SheetBlocks;

// The Today page: the date, the title "Today", the item count, the three blocks with their nine rows, and a footer
// with the way to the Backlog and to the Settings. It is the only place where rows are coordinated: it keeps which
// row is being edited, which item is being moved and which row lies under the pointer, and turns what the rows
// report into store operations. Its own rectangle is the coordinate space "paper.sheet".
class SheetView : public QWidget
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    using Frames = QList<std::pair<QString, QRectF>>;

    explicit SheetView(DayStore &store, Paper::TextSize size = Paper::TextSize::medium, QWidget *parent = nullptr);
    ~SheetView() override;

    Paper::TextSize textSize() const { return m_size; }
    void setTextSize(Paper::TextSize size);
    // The clock of the date line; the system clock when empty.
    void setClock(Clock clock);
    // Where the sheet's changes are kept for Undo; none keeps none.
    void setHistory(UndoHistory *history) { m_history = history; }
    // Where the sheet tells of typing that found no free row.
    void setNotes(NoteBar *notes) { m_notes = notes; }

    std::optional<QString> editingSlot() const { return m_editingSlot; }
    std::optional<QString> dragged() const { return m_dragged; }
    std::optional<QString> target() const { return m_target; }
    SlotRow *row(const QString &slotId) const;
    // Where every row on screen lies, in "paper.sheet", in reading order; a row scrolled out of view has none.
    Frames frames() const;

    // The nine slot ids in reading order: "slot.1.0", "slot.3.0" … "slot.5.4".
    static const QStringList &slotIds();
    // The slot after (forward) or before the given one in reading order; none past either end and for any other
    // text.
    static std::optional<QString> slotNext(const QString &slotId, bool forward);
    // The row whose rectangle holds the point (in "paper.sheet"); none between blocks and outside the rows.
    std::optional<QString> slotAt(QPointF point) const;
    // Drops the item on the row of the slot id: onto another item a swap, onto an empty row a move into that block.
    void dropDragged(const QString &itemId, const QString &slotId);

    // The whole page with every row at the spec's sizes.
    QSize sizeHint() const override;

    // Redraws from the store now if it changed since the last time.
    void refreshIfNeeded();
    // Ends the open edit from outside the row (a click beside the rows, another row, Quit), keeping what was typed.
    void finishOpenEdit();
    // What was typed while every row was full goes to the Backlog.
    void putTypedInBacklog();
    // Before the page goes: the open edit is kept as Return would, and what waits from a full sheet goes to the
    // Backlog, as its note offered.
    void keepWhatWasTyped();
    // Text typed on a full sheet waits in the note; Escape takes it back there rather than leaving the page.
    bool holdsTypedText() const { return !m_typed.isEmpty(); }

signals:
    void openBacklogRequested();
    void openSettingsRequested();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildHeader();
    void buildBlocks();
    void buildFooter();
    SlotRow::Callbacks callbacksFor(SlotRow *row);
    void refresh();
    void refreshDate();
    void setEditingSlot(const std::optional<QString> &slotId);
    void beginEdit(const QString &slotId);
    // Moves the keyboard focus to the row, with its focus ring, and scrolls it into view.
    void focusRow(const QString &slotId);
    void endEdit(const QString &slotId, bool advance);
    // Steps the row's task by one row; a focused row hands the focus on to where the task went.
    void step(SlotRow *row, int by);
    // The row being edited, or else the focused one, is scrolled into view.
    void keepOpenRowInView();
    void scrollToRow(QWidget *row);
    void setTight(bool tight);
    void updateHighlights();
    // Runs a store operation that the user asked for, keeps it for Undo, and redraws at once.
    void change(UndoHistory::Kind kind, const std::function<void()> &operation);
    // Typing while no row is open goes to the first free row, or waits in a note when there is none.
    bool typeWithoutRow(QKeyEvent *event);
    // Several lines pasted into an empty row: one task each, in one change.
    void addPasted(const QStringList &titles, Block block);

    DayStore &m_store;
    Paper::TextSize m_size;
    Clock m_clock;

    std::optional<QString> m_editingSlot;
    bool m_editFromKeyboard = false; // the open edit began on a row that had the keyboard focus
    std::optional<QString> m_dragged;
    std::optional<QString> m_target;
    StoreRefresh *m_refresh = nullptr;
    QDate m_shownDate;
    UndoHistory *m_history = nullptr;
    QPointer<NoteBar> m_notes;
    QString m_typed; // typed while every row was full

    PaperLabel *m_title = nullptr;
    PaperLabel *m_status = nullptr;
    PaperLabel *m_date = nullptr;
    QScrollArea *m_scroll = nullptr;
    QSpacerItem *m_headerGap = nullptr;
    QSpacerItem *m_footerGap = nullptr;
    bool m_tight = false; // the page's margins are shrunk: the window is too short for the spec's sizes
    SheetBlocks *m_blocks = nullptr;
    QList<PaperLabel *> m_headings;
    std::array<SlotRow *, kSheetRowCount> m_rows{};
    LandingMark *m_landing = nullptr; // where a moved item would land
    PaperButtonStyle *m_backlogButton = nullptr;
    CountBadge *m_badge = nullptr;
    PaperButtonStyle *m_settingsButton = nullptr;
};
