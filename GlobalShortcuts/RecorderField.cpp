#include "GlobalShortcuts/RecorderField.h"

#include "GlobalShortcuts/ActionShortcut.h"
#include "GlobalShortcuts/HotKey.h"
#include "GlobalShortcuts/KeyCodeTable.h"
#include "GlobalShortcuts/Texts.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

namespace GlobalShortcuts {

namespace {

// A click this close around the field still counts as a click on it.
constexpr int kClickSlop = 3;
constexpr Qt::KeyboardModifiers kShortcutModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

RecorderField::AlertPresenter g_alertPresenter;
std::function<void()> g_beeper;
QPointer<RecorderField> g_currentRecorder;

int presentMessageBox(QWidget *window, const Alert &alert)
{
    QMessageBox box(window);
    // Titled as the window it belongs to rather than with the program's file name.
    const QString title = window ? window->window()->windowTitle() : QString();
    box.setWindowTitle(title.isEmpty() ? QGuiApplication::applicationDisplayName() : title);
    box.setIcon(QMessageBox::Warning);
    if (!QApplication::windowIcon().isNull())
        box.setIconPixmap(QApplication::windowIcon().pixmap(64));
    box.setText(alert.message);
    box.setInformativeText(alert.informativeText);
    QList<QPushButton *> buttons;
    for (const QString &title : alert.buttons)
        buttons.append(box.addButton(title, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
    if (!buttons.isEmpty()) {
        box.setDefaultButton(buttons.first());
        box.setEscapeButton(buttons.first());
    }
    // A sheet on the window when there is one, so the rest of the application stays usable.
    box.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();
    const int chosen = int(buttons.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
    return chosen < 0 ? 0 : chosen;
}

void beep()
{
    if (g_beeper)
        g_beeper();
    else
        QApplication::beep();
}

// The title a menu shows: without mnemonic marks and without a shortcut written after a tab.
QString plainTitle(const QAction &action)
{
    const QString text = action.text().section(QLatin1Char('\t'), 0, 0);
    QString title;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        title += text[i];
    }
    return title;
}

std::optional<QString> searchActions(const QList<QAction *> &actions, const Shortcut &candidate, const QString &own)
{
    // Depth first in item order, each submenu right after its item. An item that runs the recorded name's own
    // action is no conflict: its shortcut follows the recorded one.
    for (QAction *action : actions) {
        if (action->isSeparator() || (!own.isEmpty() && followedName(*action) == own))
            continue;
        for (const QKeySequence &sequence : action->shortcuts()) {
            if (sequence.count() == 1 && Shortcut::fromKeyCombination(sequence[0]) == candidate)
                return plainTitle(*action);
        }
        if (QMenu *submenu = action->menu()) {
            if (auto found = searchActions(submenu->actions(), candidate, own))
                return found;
        }
    }
    return std::nullopt;
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
    m_clearAction->setToolTip(tr("Clear Shortcut"));
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

QSize RecorderField::sizeHint() const
{
    QSize hint = QLineEdit::sizeHint();
    const QString shown = text().isEmpty() ? placeholderText() : text();
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
    if (m_resumeAfterAlert || m_canBecomeKey || event->reason() != Qt::ActiveWindowFocusReason) {
        beginRecording();
        return;
    }
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
    setPlaceholderText(localizedText("press_shortcut"));
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
    setPlaceholderText(localizedText("record_shortcut"));
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
    // Without Ctrl, Alt or Meta only the F-keys make a shortcut: Shift-A would take away a capital letter.
    if (!(modifiers & ~Qt::ShiftModifier) && !KeyCodeTable::isFunctionQtKey(key)) {
        beep();
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

std::optional<QString> RecorderField::menuItemUsing(const Shortcut &candidate) const
{
    // A key that has no menu key equivalent (the keypad, keys that type nothing) matches no item.
    if (!candidate.menuKeyEquivalent())
        return std::nullopt;
    QList<QWidget *> menus;
    for (const QPointer<QWidget> &menu : m_menus) {
        if (menu)
            menus.append(menu);
    }
    if (m_menus.isEmpty() && window()) {
        for (QMenuBar *menuBar : window()->findChildren<QMenuBar *>())
            menus.append(menuBar);
    }
    for (QWidget *menu : menus) {
        const QString own = m_storageMode == StorageMode::name ? m_name.rawValue() : QString();
        if (auto found = searchActions(menu->actions(), candidate, own))
            return found;
    }
    return std::nullopt;
}

bool RecorderField::applyBehavior(ConflictBehavior behavior, const QString &message, const QString &informativeText)
{
    switch (behavior) {
    case ConflictBehavior::allow:
        return true;
    case ConflictBehavior::block:
        showAlert(message, informativeText, {localizedText("ok")});
        return false;
    case ConflictBehavior::warn:
        return showAlert(message, informativeText, {localizedText("ok"), localizedText("force_use_shortcut")}) == 1;
    }
    return false;
}

int RecorderField::showAlert(const QString &message, const QString &informativeText, const QStringList &buttons)
{
    QPointer<RecorderField> self(this);
    stopRecording();
    const Alert alert{message, informativeText, buttons};
    const int chosen = g_alertPresenter ? g_alertPresenter(window(), alert) : presentMessageBox(window(), alert);
    if (!self)
        return 0;
    // Recording goes on after the alert, also when the window only becomes active again later.
    m_resumeAfterAlert = true;
    startRecording();
    return chosen;
}

void RecorderField::setAlertPresenter(AlertPresenter presenter)
{
    g_alertPresenter = std::move(presenter);
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
