#include "GlobalShortcuts/RecorderField.h"

#include "GlobalShortcuts/HotKey.h"
#include "GlobalShortcuts/KeyCodeTable.h"
#include "GlobalShortcuts/Texts.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QTimer>

namespace GlobalShortcuts {

namespace {

// A click this close around the field still counts as a click on it.
constexpr int kClickSlop = 3;
constexpr Qt::KeyboardModifiers kShortcutModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

std::function<void()> g_beeper;
QPointer<RecorderField> g_currentRecorder;

void beep()
{
    if (g_beeper)
        g_beeper();
    else
        QApplication::beep();
}

// Some desktops refuse global shortcuts whose only modifier is Option (Alt) to sandboxed applications; none of
// those this program runs on does, so the rule never applies here.
bool isDisallowedOnThisDesktop(const Shortcut &)
{
    return false;
}

} // namespace

RecorderField::RecorderField(const Name &name, QWidget *parent)
    : QLineEdit(parent), m_storageMode(StorageMode::name), m_name(name)
{
    setUp();
    connect(&notifier(), &Notifier::shortcutByNameDidChange, this, [this](const Name &changed) {
        if (changed == m_name)
            refreshText();
    });
}

RecorderField::RecorderField(const std::optional<Shortcut> &binding, QWidget *parent)
    : QLineEdit(parent), m_storageMode(StorageMode::binding), m_bindingShortcut(binding)
{
    setUp();
}

RecorderField::~RecorderField()
{
    finishRecording();
}

void RecorderField::setUp()
{
    // Typing never edits the text; the keys are read as a shortcut instead. Read-only also hides the caret.
    setReadOnly(true);
    setAlignment(Qt::AlignCenter);
    setPlaceholderText(localizedText("record_shortcut"));
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_clearAction = addAction(style()->standardIcon(QStyle::SP_LineEditClearButton), QLineEdit::TrailingPosition);
    m_clearAction->setObjectName(QStringLiteral("clearButton"));
    m_clearAction->setText(tr("Clear shortcut")); // the button shows only its icon; a screen reader reads this
    m_clearAction->setToolTip(tr("Clear shortcut"));
    connect(m_clearAction, &QAction::triggered, this, &RecorderField::clearShortcut);
    refreshText();
}

std::optional<Shortcut> RecorderField::shortcut() const
{
    return m_storageMode == StorageMode::name ? storedShortcut(m_name) : m_bindingShortcut;
}

void RecorderField::setShortcut(const std::optional<Shortcut> &shortcut)
{
    if (shortcut == this->shortcut())
        return;
    if (m_storageMode == StorageMode::name)
        storeShortcut(shortcut, m_name);
    else
        m_bindingShortcut = shortcut;
    refreshText();
}

void RecorderField::setMenus(const QList<QWidget *> &menus)
{
    m_menus.clear();
    for (QWidget *menu : menus)
        m_menus.append(menu);
}

void RecorderField::refreshText()
{
    const std::optional<Shortcut> current = shortcut();
    // While recording, the prompt stands where the shortcut was; the clear button stays while there is one.
    setText(current && !m_isRecording ? current->nativeText() : QString());
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
    setPrompt(localizedText("press_shortcut"));
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
    const int key = event->key();
    // A modifier on its own is the start of a combination, not one.
    if (KeyCodeTable::isModifierQtKey(key) || key == 0 || key == Qt::Key_unknown)
        return true;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & kShortcutModifiers;
    if (modifiers == Qt::NoModifier) {
        switch (key) {
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
    // Without Ctrl, Alt or Meta only the F-keys make a shortcut: Shift-A would take away a capital letter. The
    // field says so, and goes on recording.
    if (!(modifiers & ~Qt::ShiftModifier) && !KeyCodeTable::isFunctionQtKey(key)) {
        beep();
        setPrompt(localizedText("modifier_needed"));
        return true;
    }
    const std::optional<Shortcut> candidate = Shortcut::fromKeyEvent(*event);
    if (!candidate) {
        beep();
        return true;
    }
    if (candidate != shortcut()) {
        if (const auto title = menuItemUsing(*candidate)) {
            if (!applyBehavior(m_conflictPolicy.menuItem,
                               localizedText("keyboard_shortcut_used_by_menu_item").arg(*title), QString()))
                return true;
        }
    }
    if (isDisallowedOnThisDesktop(*candidate) && m_conflictPolicy.disallowed != ConflictBehavior::allow) {
        showAlert(localizedText("keyboard_shortcut_disallowed"), QString(), {localizedText("ok")});
        return true;
    }
    const bool plainF12 = *candidate == Shortcut(Key::f12, quint64(0));
    if (!plainF12 && HotKeyCenter::shared().isTakenByAnotherApplication(*candidate)) {
        if (!applyBehavior(m_conflictPolicy.systemShortcut, localizedText("keyboard_shortcut_used_by_system"),
                           localizedText("keyboard_shortcuts_can_be_changed")))
            return true;
    }
    if (m_validate) {
        const ValidationResult result = m_validate(*candidate);
        if (!result.allowed) {
            showAlert(result.reason, QString(), {localizedText("ok")});
            return true;
        }
    }
    acceptShortcut(*candidate);
    return true;
}

void RecorderField::clearShortcut()
{
    showText(QString());
    if (m_storageMode == StorageMode::name)
        storeShortcut(std::nullopt, m_name);
    else
        m_bindingShortcut.reset();
    emit shortcutChanged(std::nullopt);
    stopRecording();
}

void RecorderField::acceptShortcut(const Shortcut &shortcut)
{
    showText(shortcut.nativeText());
    if (m_storageMode == StorageMode::name)
        storeShortcut(shortcut, m_name);
    else
        m_bindingShortcut = shortcut;
    emit shortcutChanged(shortcut);
    stopRecording();
}

void RecorderField::setBeeper(std::function<void()> beeper)
{
    g_beeper = std::move(beeper);
}

RecorderField *RecorderField::currentRecorder()
{
    return g_currentRecorder;
}

} // namespace GlobalShortcuts
