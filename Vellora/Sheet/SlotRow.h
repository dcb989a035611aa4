#pragma once

#include "Vellora/DayData/DayItem.h"
#include "Vellora/Paper/Paper.h"
#include "Vellora/Sheet/SlotField.h"

#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

#include <functional>
#include <optional>

class PaperLabel;
class PaperPlainButton;
class SwipeSign;

// One of the nine rows of the Today sheet: a ruled line that shows an item in handwriting, or a pale placeholder.
// A click opens it for typing, a sideways swipe ticks or deletes, a mostly vertical drag moves the item to another
// row, and controls under the pointer step or delete it. The row changes nothing itself: it reports what the user
// did through its callbacks, and the sheet turns that into store operations.
class SlotRow : public QWidget
{
    Q_OBJECT

public:
    enum class Mode { swipe, move };

    struct Callbacks
    {
        std::function<void()> onBeginEdit;
        std::function<void(bool advance)> onEndEdit;
        // The edit ended with Tab (forward) or Shift+Tab, after what was typed was kept.
        std::function<void(bool forward)> onTab;
        std::function<void(const QString &text)> onCommit;
        // Several lines pasted into an empty row: a task for each.
        std::function<void(const QStringList &titles)> onCommitLines;
        // The field holds as many characters as a task can.
        std::function<void()> onLimitReached;
        std::function<void()> onToggle;
        std::function<void()> onDelete;
        std::function<void()> onStepUp;
        std::function<void()> onStepDown;
        std::function<void()> onSendToBacklog;
        // Up or Down on the focused row: the keyboard focus goes to the row after (forward) or before it.
        std::function<void(bool forward)> onFocusNeighbour;
        std::function<void()> onMoveBegan;
        std::function<void(QPointF location)> onMoveChanged;
        std::function<void(QPointF location)> onMoveEnded;
    };

    SlotRow(const QString &id, Block block, const QString &placeholder, QWidget *parent = nullptr);
    ~SlotRow() override;

    QString id() const { return m_id; }
    Block block() const { return m_block; }
    void setCallbacks(Callbacks callbacks);
    // Drags are measured in this widget's coordinates (the sheet's "paper.sheet").
    void setCoordinateSpace(QWidget *space);

    // What the sheet shows in the row; the row's own state (draft, offsets) stays when the item changes.
    const std::optional<DayItem> &item() const { return m_item; }
    void setItem(const std::optional<DayItem> &item);
    void setTextSize(Paper::TextSize size);
    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return m_highlighted; }
    void setEditing(bool editing);
    bool isEditing() const { return m_isEditing; }
    void setStepping(bool canStepUp, bool canStepDown);

    // Where the layout puts the row; swipes and moves draw it displaced from there.
    void setSlotRect(const QRect &rect);
    QRect slotRect() const { return m_slotRect; }

    // A click on the row.
    void beginEditing();
    void commit(bool advance);
    void commitAndTab(bool forward);
    void cancelEdit();

    QString draft() const { return m_draft; }
    qreal offset() const { return m_offset; }
    bool isMoving() const { return m_moving; }
    std::optional<Mode> mode() const { return m_mode; }
    bool controlsShown() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    // The least the row may take where the window is short: its text with a little room around it.
    int tightHeightForWidth(int width) const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    template<typename Callback, typename... Args> static void call(const Callback &callback, Args &&...args)
    {
        if (callback)
            callback(std::forward<Args>(args)...);
    }
    QPointF spacePoint(const QPointF &globalPosition) const;
    // Keeps what was typed, as Return does; false when the row was not being edited.
    bool storeDraft();
    void dragChanged(QPointF translation, QPointF location);
    void dragEnded(QPointF translation, QPointF location);
    void setMoving(bool moving);
    void setOffset(qreal offset);
    void showSwipeSign();
    void setMoveOffset(QPointF offset);
    void springBack();
    void applyGeometry();
    void ensureField();
    void fieldTextChanged();
    void updateParts();
    void layOutParts();
    QFont textFont() const;
    int controlsWidth() const;
    int textPartHeight(int textWidth) const;
    void paintBackground(QPainter &painter);
    void paintRule(QPainter &painter);
    void updateAccessibleNames();

    const QString m_id;
    const Block m_block;
    const QString m_placeholderText;
    Callbacks m_callbacks;
    QPointer<QWidget> m_space;

    std::optional<DayItem> m_item;
    Paper::TextSize m_size = Paper::TextSize::medium;
    bool m_highlighted = false;
    bool m_isEditing = false;
    bool m_canStepUp = false;
    bool m_canStepDown = false;
    QRect m_slotRect;

    // The row's own state.
    QString m_draft;
    qreal m_offset = 0;
    QPointF m_moveOffset;
    bool m_moving = false;
    std::optional<Mode> m_mode;
    bool m_hovering = false;
    bool m_focused = false;

    // The pointer's press, in the coordinate space, while the button is held.
    std::optional<QPointF> m_press;
    bool m_dragStarted = false;
    bool m_fillingField = false;
    int m_fieldLines = 1;

    PaperLabel *m_text = nullptr;
    PaperLabel *m_placeholder = nullptr;
    SlotField *m_field = nullptr;
    PaperPlainButton *m_up = nullptr;
    PaperPlainButton *m_down = nullptr;
    PaperPlainButton *m_delete = nullptr;
    QPointer<SwipeSign> m_sign; // beside the row, on the sheet
    QVariantAnimation m_offsetAnimation;
    QVariantAnimation m_moveAnimation;
};
