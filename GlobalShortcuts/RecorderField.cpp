#include "GlobalShortcuts/RecorderField.h"

#include "GlobalShortcuts/HotKeyCenter.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QTimer>

namespace GlobalShortcuts {

namespace {

// A click this close around the field still counts as a click on it.
constexpr int kClickSlop = 3;
QPointer<RecorderField> g_currentRecorder;

} // namespace

RecorderField::RecorderField(const Name &name, QWidget *parent) : QLineEdit(parent), m_name(name)
{
    // Typing never edits the text; the keys are read as a shortcut instead. Read-only also hides the caret.
    setReadOnly(true);
    setAlignment(Qt::AlignCenter);
    setPlaceholderText(tr("Record shortcut"));
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_clearAction = addAction(style()->standardIcon(QStyle::SP_LineEditClearButton), QLineEdit::TrailingPosition);
    m_clearAction->setObjectName(QStringLiteral("clearButton"));
    m_clearAction->setText(tr("Clear shortcut")); // the button shows only its icon; a screen reader reads this
    m_clearAction->setToolTip(tr("Clear shortcut"));
    connect(m_clearAction, &QAction::triggered, this, &RecorderField::clearShortcut);
    connect(&notifier(), &Notifier::shortcutByNameDidChange, this, [this](const Name &changed) {
        if (changed == m_name)
            refreshText();
    });
    refreshText();
}

RecorderField::~RecorderField()
{
    finishRecording();
}

void RecorderField::refreshText()
{
    const std::optional<Shortcut> current = shortcut();
    // While recording, the prompt stands where the shortcut was; the clear button stays while there is one.
    setText(current && !m_isRecording ? nativeText(*current) : QString());
    m_clearAction->setVisible(current.has_value());
    updateGeometry();
}

void RecorderField::showText(const QString &text)
{
    setText(text);
    m_clearAction->setVisible(!text.isEmpty());
    updateGeometry();
}

void RecorderField::setPrompt(const QString &prompt)
{
    if (prompt == m_prompt)
        return;
    m_prompt = prompt;
    // Read out as the field's description; the placeholder the platform's field would hide while it has the focus.
    setAccessibleDescription(prompt);
    updateGeometry();
    update();
}

void RecorderField::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = box.height() / 4;
    painter.setPen(QPen(palette().color(m_isRecording ? QPalette::Highlight : QPalette::Mid), 1));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(box, radius, radius);

    // Centred between the clear button and an equal margin on the other side.
    const int margin = height();
    const QRect textRect = rect().adjusted(margin, 0, -margin, 0);
    const bool empty = text().isEmpty();
    const QString shown = !empty ? text() : m_isRecording ? m_prompt : placeholderText();
    painter.setPen(palette().color(empty ? QPalette::PlaceholderText : QPalette::Text));
    painter.setFont(font());
    painter.drawText(textRect, Qt::AlignCenter, fontMetrics().elidedText(shown, Qt::ElideRight, textRect.width()));
}

QSize RecorderField::sizeHint() const
{
    QSize hint = QLineEdit::sizeHint();
    const QString shown = !text().isEmpty() ? text() : m_isRecording ? m_prompt : placeholderText();
    // Room for the text, centred between the clear button and an equal margin on the other side.
    const int needed = fontMetrics().horizontalAdvance(shown) + 2 * (hint.height() + 4);
    hint.setWidth(qMax(kMinimumWidth, needed));
    return hint;
}

QSize RecorderField::minimumSizeHint() const
{
    return sizeHint();
}

void RecorderField::startRecording()
{
    if (hasFocus())
        beginRecording();
    else
        setFocus(Qt::OtherFocusReason);
}

void RecorderField::stopRecording()
{
    finishRecording();
    if (hasFocus())
        clearFocus();
}

void RecorderField::preventFocusUntilNextTurn()
{
    // Showing the window or bringing it to the front hands the focus around; that must not start recording.
    m_canBecomeKey = false;
    QTimer::singleShot(0, this, [this] { m_canBecomeKey = true; });
}

void RecorderField::showEvent(QShowEvent *event)
{
    QLineEdit::showEvent(event);
    preventFocusUntilNextTurn();
}

bool RecorderField::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowActivate:
        preventFocusUntilNextTurn();
        break;
    case QEvent::WindowDeactivate:
        // The window went to the back: recording ends and the field gives up the focus for good.
        if (m_isRecording) {
            finishRecording();
            QTimer::singleShot(0, this, [this] { clearFocus(); });
        }
        break;
    case QEvent::ShortcutOverride:
        // Every key combination comes here as a key press, none triggers an in-app shortcut.
        if (m_isRecording) {
            event->accept();
            return true;
        }
        break;
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (m_isRecording) {
            if (handleKeyDown(key))
                return true;
            break;
        }
        // Focused without recording: Space and Return start it, as they press a button; Tab goes on.
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (plain && (key->key() == Qt::Key_Space || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            beginRecording();
            return true;
        }
        if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab)
            return true;
        break;
    }
    case QEvent::KeyRelease:
        if (m_isRecording)
            return true;
        break;
    default:
        break;
    }
    return QLineEdit::event(event);
}

void RecorderField::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // A click or a host's request records; the keyboard passing through (Tab, a label's mnemonic, the focus coming
    // back from the menus) only stops here, so that the next key is not taken as a shortcut unasked.
    const Qt::FocusReason reason = event->reason();
    if (m_resumeAfterAlert || reason == Qt::MouseFocusReason || reason == Qt::OtherFocusReason) {
        beginRecording();
        return;
    }
    if (reason != Qt::ActiveWindowFocusReason || m_canBecomeKey)
        return;
    QTimer::singleShot(0, this, [this] {
        if (!m_isRecording)
            clearFocus();
    });
}

void RecorderField::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    finishRecording();
}

void RecorderField::mousePressEvent(QMouseEvent *event)
{
    QLineEdit::mousePressEvent(event);
    if (!m_isRecording)
        startRecording();
}

void RecorderField::beginRecording()
{
    m_resumeAfterAlert = false;
    if (m_isRecording || !window())
        return;
    if (g_currentRecorder && g_currentRecorder != this)
        g_currentRecorder->stopRecording();
    m_isRecording = true;
    setPrompt(tr("Press a shortcut…"));
    refreshText();
    g_currentRecorder = this;
    setRecorderActive(true);
    // Clicks outside end recording, wherever they land.
    qApp->installEventFilter(this);
    // With the keyboard held, combinations other applications grab reach the field too, so they can be checked.
    grabKeyboard();
}

void RecorderField::finishRecording()
{
    if (!m_isRecording)
        return;
    m_isRecording = false;
    releaseKeyboard();
    // Otherwise the release waits in the display connection's buffer, and a shortcut pressed right after
    // recording still lands in this window instead of acting.
    HotKeyCenter::shared().backend().flush();
    qApp->removeEventFilter(this);
    setPrompt(QString());
    refreshText();
    if (g_currentRecorder == this) {
        g_currentRecorder = nullptr;
        setRecorderActive(false);
    }
}

bool RecorderField::eventFilter(QObject *watched, QEvent *event)
{
    if (m_isRecording && event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const bool leftOrRight = mouse->button() == Qt::LeftButton || mouse->button() == Qt::RightButton;
        const QPoint local = mapFromGlobal(mouse->globalPosition().toPoint());
        if (leftOrRight && !rect().adjusted(-kClickSlop, -kClickSlop, kClickSlop, kClickSlop).contains(local))
            stopRecording();
    }
    return QLineEdit::eventFilter(watched, event);
}

bool RecorderField::handleKeyDown(QKeyEvent *event)
{
    // A modifier on its own is the start of a combination, not one.
    const std::optional<Shortcut> candidate = shortcutFromKeyEvent(*event);
    if (!candidate) {
        if (!isModifierKey(event->key()))
            QApplication::beep();
        return true;
    }
    if ((candidate->keyboardModifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        switch (candidate->key()) {
        case Qt::Key_Tab:
            finishRecording();
            return false;
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            clearShortcut();
            return true;
        case Qt::Key_Escape:
            stopRecording();
            return true;
        default:
            break;
        }
    }
    // The field says why, and goes on recording.
    if (!hasShortcutModifier(*candidate)) {
        QApplication::beep();
        setPrompt(tr("Add Ctrl, Alt or Super"));
        return true;
    }
    if (candidate != shortcut()) {
        if (const auto title = menuItemUsing(*candidate)) {
            showAlert(tr("This shortcut cannot be used because the “%1” menu item already uses it.").arg(*title),
                      QString(), {tr("OK")});
            return true;
        }
    }
    const bool plainF12 = *candidate == Shortcut(Qt::Key_F12);
    if (!plainF12 && HotKeyCenter::shared().backend().isTakenByAnotherApplication(*candidate)) {
        const int chosen = showAlert(tr("This shortcut is already used by the desktop or another application."),
                                     tr("If you use it anyway, it may not work here. Desktop-wide shortcuts can be "
                                        "changed in your desktop's keyboard settings."),
                                     {tr("OK"), tr("Use Anyway")});
        if (chosen != 1)
            return true;
    }
    acceptShortcut(*candidate);
    return true;
}

void RecorderField::clearShortcut()
{
    showText(QString());
    storeShortcut(std::nullopt, m_name);
    emit shortcutChanged(std::nullopt);
    stopRecording();
}

void RecorderField::acceptShortcut(Shortcut shortcut)
{
    showText(nativeText(shortcut));
    storeShortcut(shortcut, m_name);
    emit shortcutChanged(shortcut);
    stopRecording();
}

RecorderField *RecorderField::currentRecorder()
{
    return g_currentRecorder;
}

} // namespace GlobalShortcuts
