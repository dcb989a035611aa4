#include "Vellora/Sheet/SlotRow.h"

#include "Vellora/DayData/SheetText.h"
#include "Vellora/Paper/FocusRing.h"
#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperAccessible.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperPlainButton.h"
#include "Vellora/Sheet/RowAccessible.h"
#include "Vellora/Sheet/SlotField.h"
#include "Vellora/Sheet/SwipeSign.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

SlotRow::SlotRow(const QString &id, Block block, const QString &placeholder, QWidget *parent)
    : QWidget(parent), m_id(id), m_block(block), m_placeholderText(placeholder)
{
    setObjectName(id);
    RowAccessible::install();
    // Reachable with Tab and the arrows; a click opens the row for typing rather than focusing it.
    setFocusPolicy(Qt::TabFocus);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    m_text = new PaperLabel(id + QStringLiteral(".text"), Paper::Role::ink, textFont(), this);
    m_text->setMaxLines(block == Block::small ? Paper::kSmallTitleMaxLines : Paper::kTitleMaxLines);
    m_placeholder = new PaperLabel(id + QStringLiteral(".placeholder"), Paper::Role::faint, textFont(), this);
    m_placeholder->setText(placeholder);

    const QFont arrowFont = Paper::systemFont(Paper::kStepControlSize, QFont::DemiBold);
    m_up = new PaperPlainButton(id + QStringLiteral(".up"), QStringLiteral("↑"), arrowFont, Paper::Role::muted, this);
    m_down =
        new PaperPlainButton(id + QStringLiteral(".down"), QStringLiteral("↓"), arrowFont, Paper::Role::muted, this);
    m_delete = new PaperPlainButton(id + QStringLiteral(".delete"), QStringLiteral("×"),
                                    Paper::systemFont(Paper::kDeleteControlSize), Paper::Role::muted, this);
    m_up->setToolTip(tr("Move up"));
    m_down->setToolTip(tr("Move down"));
    m_delete->setToolTip(tr("Delete"));
    connect(m_up, &QAbstractButton::clicked, this, [this] { call(m_callbacks.onStepUp); });
    connect(m_down, &QAbstractButton::clicked, this, [this] { call(m_callbacks.onStepDown); });
    connect(m_delete, &QAbstractButton::clicked, this, [this] { call(m_callbacks.onDelete); });

    // The parts are placed by layOutParts. Without this, showing a part first sizes it to its size hint, which
    // measures its text, only to be placed again at once.
    for (QWidget *part : std::initializer_list<QWidget *>{m_text, m_placeholder, m_up, m_down, m_delete})
        part->setAttribute(Qt::WA_Resized);

    for (QVariantAnimation *animation : {&m_offsetAnimation, &m_moveAnimation}) {
        animation->setDuration(Paper::kSpringBackMs);
        animation->setEasingCurve(Paper::easeOut());
    }
    connect(&m_offsetAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setOffset(value.toReal()); });
    connect(&m_moveAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setMoveOffset(value.toPointF()); });

    updateParts();
}

SlotRow::~SlotRow()
{
    // The animations are members; stop them before the widget they move is gone.
    m_offsetAnimation.stop();
    m_moveAnimation.stop();
    delete m_sign;
}

void SlotRow::setCallbacks(Callbacks callbacks)
{
    m_callbacks = std::move(callbacks);
}

void SlotRow::setCoordinateSpace(QWidget *space)
{
    m_space = space;
}

void SlotRow::setItem(const std::optional<DayItem> &item)
{
    if (item == m_item)
        return;
    const bool wasDone = m_item && m_item->done;
    m_item = item;
    updateParts();
    if (wasDone != (m_item && m_item->done))
        PaperAccessible::checkedChanged(this);
}

void SlotRow::setTextSize(Paper::TextSize size)
{
    if (size == m_size)
        return;
    m_size = size;
    const QFont font = textFont();
    QFont struck = font;
    struck.setStrikeOut(m_text->isStruckOut());
    m_text->setFont(struck);
    m_placeholder->setFont(font);
    if (m_field)
        m_field->setFont(font);
    updateParts();
}

void SlotRow::setHighlighted(bool highlighted)
{
    if (highlighted == m_highlighted)
        return;
    m_highlighted = highlighted;
    update();
}

void SlotRow::setStepping(bool canStepUp, bool canStepDown)
{
    if (canStepUp == m_canStepUp && canStepDown == m_canStepDown)
        return;
    m_canStepUp = canStepUp;
    m_canStepDown = canStepDown;
    updateParts();
}

void SlotRow::setEditing(bool editing)
{
    if (editing == m_isEditing)
        return;
    m_isEditing = editing;
    if (editing) {
        ensureField();
        // The field opens with what the row shows now.
        // A longer title, come from a file or sync, opens cut to what the field takes.
        m_draft = m_item ? m_item->title.left(Paper::kFieldMaxLength) : QString();
        m_fillingField = true;
        m_field->setPlainText(m_draft);
        m_field->moveCursor(QTextCursor::End);
        m_fillingField = false;
        updateParts();
        m_field->setFocus(Qt::OtherFocusReason);
        m_focused = true;
    } else {
        m_focused = false;
        if (m_field && m_field->hasFocus())
            m_field->clearFocus(); // its focus loss finds the row no longer editing and stores nothing
        updateParts();
    }
}

void SlotRow::setSlotRect(const QRect &rect)
{
    m_slotRect = rect;
    applyGeometry();
}

void SlotRow::beginEditing()
{
    if (m_moving || m_isEditing)
        return;
    m_draft = m_item ? m_item->title : QString();
    call(m_callbacks.onBeginEdit);
}

void SlotRow::commit(bool advance)
{
    if (storeDraft())
        call(m_callbacks.onEndEdit, advance);
}

void SlotRow::commitAndTab(bool forward)
{
    if (storeDraft())
        call(m_callbacks.onTab, forward);
}

bool SlotRow::storeDraft()
{
    if (!m_isEditing)
        return false;
    m_focused = false;
    const QString text = joinedLines(m_draft).trimmed(); // a tab becomes a space
    m_draft.clear();
    // An unchanged title stores nothing, so the item keeps its change time and with it its row; a long title
    // left as the field showed it keeps its whole text.
    const bool unchanged =
        m_item && (text == m_item->title || text == joinedLines(m_item->title.left(Paper::kFieldMaxLength)).trimmed());
    if (!unchanged)
        call(m_callbacks.onCommit, text);
    return true;
}

void SlotRow::cancelEdit()
{
    m_draft = m_item ? m_item->title : QString();
    m_focused = false;
    call(m_callbacks.onEndEdit, false);
}

bool SlotRow::controlsShown() const
{
    return m_item && !m_isEditing && m_hovering && !m_moving;
}

QFont SlotRow::textFont() const
{
    return Paper::itemFont(m_block, m_size);
}

int SlotRow::controlsWidth() const
{
    if (!controlsShown())
        return 0;
    int width = 0;
    for (const PaperPlainButton *control : {m_up, m_down, m_delete}) {
        const bool shown = control == m_up ? m_canStepUp : control == m_down ? m_canStepDown : true;
        if (shown)
            width += Paper::kRowSpacing + control->sizeHint().width();
    }
    return width;
}

int SlotRow::textPartHeight(int textWidth) const
{
    const QFont font = textFont();
    const qreal line = PaperLabel::lineHeight(font);
    if (m_isEditing) {
        const int lines = std::min(PaperLabel::lineCount(m_draft, font, textWidth), Paper::kFieldMaxLines);
        return int(std::ceil(lines * line));
    }
    if (m_item)
        return m_text->heightForWidth(textWidth);
    return int(std::ceil(line));
}

int SlotRow::heightForWidth(int width) const
{
    const int textWidth = width - 2 * Paper::kRowPaddingH - controlsWidth();
    return std::max(Paper::rowHeight(m_block, m_size), textPartHeight(textWidth));
}

int SlotRow::tightHeightForWidth(int width) const
{
    const int textWidth = width - 2 * Paper::kRowPaddingH - controlsWidth();
    return std::min(heightForWidth(width), textPartHeight(textWidth) + 2 * Paper::kRowTightPadding);
}

QSize SlotRow::sizeHint() const
{
    const int width = m_slotRect.isValid() ? m_slotRect.width() : 400;
    return QSize(width, heightForWidth(width));
}

void SlotRow::updateParts()
{
    if (m_item) {
        // A long title is cut with "…", so that one task never takes the sheet; the field shows all of it. Only a
        // short start of a title longer than a task may hold is ever laid out.
        m_text->setText(m_item->title.left(Paper::kFieldMaxLength + 1));
        m_text->setStruckOut(m_item->done);
        m_text->setRole(m_item->done                ? Paper::Role::faint
                        : m_block == Block::small ? Paper::Role::inkSoft
                                                    : Paper::Role::ink);
    }
    m_text->setVisible(!m_isEditing && m_item);
    m_placeholder->setVisible(!m_isEditing && !m_item);
    if (m_field)
        m_field->setVisible(m_isEditing);
    const bool controls = controlsShown();
    m_up->setVisible(controls && m_canStepUp);
    m_down->setVisible(controls && m_canStepDown);
    m_delete->setVisible(controls);
    updateAccessibleNames();
    layOutParts();
    updateGeometry();
    update();
}

void SlotRow::layOutParts()
{
    const QRect area = rect().adjusted(Paper::kRowPaddingH, 0, -Paper::kRowPaddingH, 0);
    int right = area.right() + 1;
    for (PaperPlainButton *control : {m_delete, m_down, m_up}) {
        if (control->isHidden())
            continue;
        const QSize size = control->sizeHint();
        right -= size.width();
        control->setGeometry(right, area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
        right -= Paper::kRowSpacing;
    }
    const int textWidth = std::max(0, right - area.left());
    const int textHeight = std::min(area.height(), textPartHeight(textWidth));
    const QRect textRect(area.left(), area.top() + (area.height() - textHeight) / 2, textWidth, textHeight);
    m_text->setGeometry(textRect);
    m_placeholder->setGeometry(textRect);
    if (m_field)
        m_field->setGeometry(textRect);
}

void SlotRow::ensureField()
{
    if (m_field)
        return;
    m_field = new SlotField(this);
    m_field->setObjectName(m_id + QStringLiteral(".field"));
    // Read as the row it stands in; what is typed is its text.
    m_field->setAccessibleName(RowAccessible::slotPlace(m_block, m_id.section(QLatin1Char('.'), 2).toInt() + 1));
    m_field->setFont(textFont());
    m_field->setPlaceholderText(m_placeholderText);
    m_field->setTextColor(Paper::palette(this).ink, Paper::palette(this).faint);
    m_field->hide();
    connect(m_field, &SlotField::submitted, this, [this] { commit(true); });
    connect(m_field, &SlotField::cancelled, this, [this] { cancelEdit(); });
    connect(m_field, &SlotField::focusLost, this, [this] { commit(false); });
    connect(m_field, &SlotField::tabbed, this, [this](bool forward) { commitAndTab(forward); });
    connect(m_field, &QPlainTextEdit::textChanged, this, [this] { fieldTextChanged(); });
    connect(m_field, &SlotField::limitReached, this, [this] {
        if (!m_fillingField)
            call(m_callbacks.onLimitReached);
    });
}

void SlotRow::fieldTextChanged()
{
    if (m_fillingField || !m_isEditing)
        return;
    const QString text = m_field->toPlainText();
    if (containsLineBreak(text)) {
        // Lines pasted into an empty row are a list: a task each. Into a task, a typed or pasted line break saves
        // the row as Return would, with the lines joined by spaces.
        const QStringList lines = m_item ? QStringList() : titleLines(text);
        if (lines.size() > 1) {
            m_focused = false;
            m_draft.clear();
            call(m_callbacks.onCommitLines, lines);
            call(m_callbacks.onEndEdit, false);
            return;
        }
        m_draft = joinedLines(text);
        commit(true);
        return;
    }
    m_draft = text;
    const int lines = std::min(m_field->lineCount(), Paper::kFieldMaxLines);
    if (lines != m_fieldLines) {
        m_fieldLines = lines;
        updateGeometry();
        layOutParts();
    }
}

void SlotRow::applyGeometry()
{
    if (!m_slotRect.isValid())
        return;
    const QPointF shift(m_offset + m_moveOffset.x(), m_moveOffset.y());
    setGeometry(m_slotRect.translated(shift.toPoint()));
}

void SlotRow::enterEvent(QEnterEvent *event)
{
    m_hovering = true;
    updateParts();
    QWidget::enterEvent(event);
}

void SlotRow::leaveEvent(QEvent *event)
{
    m_hovering = false;
    updateParts();
    QWidget::leaveEvent(event);
}

void SlotRow::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
    if (!m_item)
        return; // an empty row has no entries, so no menu opens
    auto *menu = new QMenu(this);
    menu->setObjectName(m_id + QStringLiteral(".menu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(tr("Edit"), this, [this] { beginEditing(); });
    menu->addAction(m_item->done ? tr("Not done") : tr("Done"), this, [this] { call(m_callbacks.onToggle); });
    menu->addAction(tr("Move to Backlog"), this, [this] { call(m_callbacks.onSendToBacklog); });
    menu->addAction(tr("Delete task"), this, [this] { call(m_callbacks.onDelete); });
    menu->popup(event->globalPos());
}

void SlotRow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layOutParts();
}

void SlotRow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && m_field)
        m_field->setTextColor(Paper::palette(this).ink, Paper::palette(this).faint);
    QWidget::changeEvent(event);
}

void SlotRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintBackground(painter);
    paintRule(painter);
    if (FocusRing::shown(this)) {
        // A wash as well as the ring: the ring alone sits too close to the handwriting of a wrapped title.
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath wash;
        wash.addRoundedRect(QRectF(rect()), Paper::kRowHighlightRadius, Paper::kRowHighlightRadius);
        painter.fillPath(wash, Paper::palette(this).accentTint);
        FocusRing::paint(painter, QRectF(rect()), Paper::kRowHighlightRadius, FocusRing::color(this));
    }
}

void SlotRow::paintBackground(QPainter &painter)
{
    const Paper::Palette &colors = Paper::palette(this);
    if (m_highlighted || m_moving) {
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), Paper::kRowHighlightRadius, Paper::kRowHighlightRadius);
        painter.fillPath(shape, m_highlighted ? colors.accentTint : colors.paper);
        painter.setRenderHint(QPainter::Antialiasing, false);
    } else if (m_offset > Paper::kSwipeThreshold) {
        painter.fillRect(rect(), colors.accentTint); // the tick zone
    } else if (m_offset < -Paper::kSwipeThreshold) {
        painter.fillRect(rect(), colors.dangerTint); // the delete zone
    }
}

void SlotRow::paintRule(QPainter &painter)
{
    painter.fillRect(QRect(0, height() - Paper::kRuleHeight, width(), Paper::kRuleHeight), Paper::palette(this).rule);
}
