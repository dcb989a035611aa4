#include "GlobalShortcuts/Recorder.h"

#include "GlobalShortcuts/ActionShortcut.h"
#include "GlobalShortcuts/HotKeyCenter.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace GlobalShortcuts {

namespace {

// A click this close around the field still counts as a click on it.
constexpr int kClickSlop = 3;
RecorderField::AlertPresenter g_alertPresenter;

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
    for (const QString &text : alert.buttons)
        buttons.append(box.addButton(text, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
    box.setDefaultButton(buttons.value(0));
    box.setEscapeButton(buttons.value(0));
    // A sheet on the window when there is one, so the rest of the application stays usable.
    box.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();
    return std::max(0, int(buttons.indexOf(qobject_cast<QPushButton *>(box.clickedButton()))));
}

// The title of the first menu item, depth first in item order with each submenu right after its item, whose
// shortcut is the candidate. An item that runs the recorded name's own action is no conflict: it follows the name.
std::optional<QString> menuItemUsing(const QList<QAction *> &actions, Shortcut candidate, const QString &own)
{
    for (QAction *action : actions) {
        if (action->isSeparator() || followedName(*action) == own)
            continue;
        for (const QKeySequence &sequence : action->shortcuts()) {
            if (sequence.count() != 1 || !menuItemMatches(sequence[0], candidate))
                continue;
            // The title as the menu shows it: without mnemonic marks or a shortcut written after a tab.
            QString title = action->text().section(QLatin1Char('\t'), 0, 0).replace(QLatin1String("&&"), QChar(1));
            return title.remove(QLatin1Char('&')).replace(QChar(1), QLatin1Char('&'));
        }
        if (auto found = action->menu() ? menuItemUsing(action->menu()->actions(), candidate, own) : std::nullopt)
            return found;
    }
    return std::nullopt;
}

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
    connect(m_clearAction, &QAction::triggered, this, [this] { storeAndStop(std::nullopt); });
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

void RecorderField::setPrompt(const QString &prompt)
{
    m_prompt = prompt;
    // Read out as the field's description; the placeholder the platform's field would hide while it has the focus.
    setAccessibleDescription(prompt);
    updateGeometry();
    update();
}

QString RecorderField::shownText() const
{
    return !text().isEmpty() ? text() : m_isRecording ? m_prompt : placeholderText();
}

void RecorderField::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(palette().color(m_isRecording ? QPalette::Highlight : QPalette::Mid), 1));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(box, box.height() / 4, box.height() / 4);
    // Centred between the clear button and an equal margin on the other side.
    const QRect textRect = rect().adjusted(height(), 0, -height(), 0);
    painter.setPen(palette().color(text().isEmpty() ? QPalette::PlaceholderText : QPalette::Text));
    painter.drawText(textRect, Qt::AlignCenter,
                     fontMetrics().elidedText(shownText(), Qt::ElideRight, textRect.width()));
}

QSize RecorderField::sizeHint() const
{
    QSize hint = QLineEdit::sizeHint();
    // Room for the text, centred between the clear button and an equal margin on the other side.
    hint.setWidth(qMax(kMinimumWidth, fontMetrics().horizontalAdvance(shownText()) + 2 * (hint.height() + 4)));
    return hint;
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
    case QEvent::ShortcutOverride:
    case QEvent::KeyRelease:
        // While recording, every key combination comes here as a key press, none triggers an in-app shortcut.
        if (m_isRecording) {
            event->accept();
            return true;
        }
        break;
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (m_isRecording)
            return handleKeyDown(*key) || QLineEdit::event(event);
        // Focused without recording: Space and Return start it, as they press a button; Tab goes on.
        if ((key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
            (key->key() == Qt::Key_Space || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter))
            beginRecording();
        if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab)
            return true;
        break;
    }
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
    if (m_resumeAfterAlert || reason == Qt::MouseFocusReason || reason == Qt::OtherFocusReason)
        return beginRecording();
    if (reason == Qt::ActiveWindowFocusReason && !m_canBecomeKey) {
        QTimer::singleShot(0, this, [this] {
            if (!m_isRecording)
                clearFocus();
        });
    }
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
    m_isRecording = true;
    setPrompt(tr("Press a shortcut…"));
    refreshText();
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
    setRecorderActive(false);
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

bool RecorderField::handleKeyDown(const QKeyEvent &event)
{
    const std::optional<Shortcut> candidate = shortcutFromKeyEvent(event);
    // A modifier on its own is the start of a combination, not one.
    if (!candidate)
        return true;
    if (!hasShortcutModifier(*candidate)) {
        const int key = candidate->key();
        const bool plain = (candidate->keyboardModifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (plain && key == Qt::Key_Tab)
            finishRecording();
        else if (plain && (key == Qt::Key_Backspace || key == Qt::Key_Delete))
            storeAndStop(std::nullopt);
        else if (plain && key == Qt::Key_Escape)
            stopRecording();
        // Without Ctrl, Alt or Super the field says why, and goes on recording.
        if (m_isRecording) {
            QApplication::beep();
            setPrompt(tr("Add Ctrl, Alt or Super"));
        }
        return !(plain && key == Qt::Key_Tab);
    }
    const auto menuItem = candidate == shortcut() ? std::nullopt : [&]() -> std::optional<QString> {
        for (const QMenuBar *menuBar : window()->findChildren<QMenuBar *>()) {
            if (auto found = menuItemUsing(menuBar->actions(), *candidate, m_name.storedForm()))
                return found;
        }
        return std::nullopt;
    }();
    if (menuItem) {
        showAlert(tr("This shortcut cannot be used because the “%1” menu item already uses it.").arg(*menuItem), {},
                  {tr("OK")});
        return true;
    }
    const bool plainF12 = *candidate == Shortcut(Qt::Key_F12);
    if (!plainF12 && HotKeyCenter::shared().backend().isTakenByAnotherApplication(*candidate) &&
        showAlert(tr("This shortcut is already used by the desktop or another application."),
                  tr("If you use it anyway, it may not work here. Desktop-wide shortcuts can be changed in your "
                     "desktop's keyboard settings."),
                  {tr("OK"), tr("Use Anyway")}) != 1)
        return true;
    storeAndStop(*candidate);
    return true;
}

void RecorderField::storeAndStop(const std::optional<Shortcut> &shortcut)
{
    storeShortcut(shortcut, m_name);
    stopRecording();
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

Recorder::Recorder(const Name &name, QWidget *parent) : QWidget(parent), m_field(new RecorderField(name))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_field);
    setFocusProxy(m_field);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (!name.initialShortcut())
        return;
    m_resetButton = new QPushButton(tr("Reset to %1").arg(nativeText(*name.initialShortcut())), this);
    m_resetButton->setObjectName(QStringLiteral("resetButton"));
    m_resetButton->setFlat(true);
    m_resetButton->setAutoDefault(true); // Return presses it when it has the focus, as Space does
    layout->addWidget(m_resetButton, 0, Qt::AlignRight);
    // After the field in the focus chain: when the button hides after a reset, the focus moves on past the field
    // instead of landing in it and starting to record.
    setTabOrder(m_field, m_resetButton);
    connect(m_resetButton, &QPushButton::clicked, this, [name] { storeShortcut(name.initialShortcut(), name); });
    const auto follow = [this, name] { m_resetButton->setVisible(m_field->shortcut() != name.initialShortcut()); };
    connect(&notifier(), &Notifier::shortcutByNameDidChange, this, [follow, name](const Name &changed) {
        if (changed == name)
            follow();
    });
    follow();
}

} // namespace GlobalShortcuts
