#include "Vellora/Shell/ContentView.h"

#include "Vellora/Paper/PaperSheet.h"
#include "Vellora/Platform/DesktopColorScheme.h"
#include "Vellora/Sheet/BacklogView.h"
#include "Vellora/Sheet/NoteBar.h"
#include "Vellora/Sheet/SheetView.h"
#include "Vellora/Shell/AppSettings.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

// Where typing goes: such a widget handles Escape itself (a row cancels its edit with it).
bool isTextEditor(const QWidget *widget)
{
    return qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QTextEdit *>(widget) ||
           qobject_cast<const QPlainTextEdit *>(widget);
}

Paper::Scheme schemeOf(const DesktopColorScheme *desktop)
{
    if (desktop)
        return desktop->isDark() ? Paper::Scheme::dark : Paper::Scheme::light;
    const QPalette system = QGuiApplication::palette();
    return system.color(QPalette::Window).lightness() < system.color(QPalette::WindowText).lightness()
               ? Paper::Scheme::dark
               : Paper::Scheme::light;
}

} // namespace

ContentView::ContentView(DayStore &store, AppSettings &settings, Navigation &nav, DesktopColorScheme *desktopScheme,
                         QWidget *parent)
    : QWidget(parent), m_store(store), m_settings(settings), m_nav(nav), m_desktopScheme(desktopScheme)
{
    setObjectName(QStringLiteral("content"));
    setMinimumSize(kMinimumSize);
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_notes = new NoteBar(store, this);
    m_layout->addWidget(m_notes);

    connect(&m_nav, &Navigation::pageChanged, this, &ContentView::buildPage);
    connect(&m_settings, &AppSettings::textSizeChanged, this, &ContentView::applyTextSize);
    connect(&m_settings, &AppSettings::appearanceChanged, this, &ContentView::applyAppearance);
    if (m_desktopScheme)
        connect(m_desktopScheme, &DesktopColorScheme::schemeChanged, this, &ContentView::applyAppearance);
    applyAppearance();
    buildPage();
}

ContentView::~ContentView()
{
    removeEscapeFilter();
}

void ContentView::setShortcutControlFactory(SettingsView::ShortcutControlFactory factory)
{
    m_makeShortcutControl = std::move(factory);
    if (m_builtPage == Navigation::Page::settings)
        buildPage();
}

void ContentView::setHistory(UndoHistory *history)
{
    m_history = history;
    m_notes->follow(history);
    // The page on screen takes it as it is: building it again would open its fonts and rows twice at launch.
    if (auto *sheet = qobject_cast<SheetView *>(page()))
        sheet->setHistory(history);
    else if (auto *backlog = qobject_cast<BacklogView *>(page()))
        backlog->setHistory(history);
    else if (auto *settings = qobject_cast<SettingsView *>(page()))
        settings->setHistory(history);
}

void ContentView::finishEditing()
{
    if (auto *sheet = qobject_cast<SheetView *>(page()))
        sheet->finishOpenEdit();
}

void ContentView::keepWhatWasTyped()
{
    if (auto *sheet = qobject_cast<SheetView *>(page()))
        sheet->keepWhatWasTyped();
}

QWidget *ContentView::page() const
{
    return m_paper ? m_paper->content() : nullptr;
}

QWidget *ContentView::makePage(Navigation::Page page)
{
    const Paper::TextSize size = m_settings.textSize();
    switch (page) {
    case Navigation::Page::today: {
        auto *sheet = new SheetView(m_store, size);
        sheet->setHistory(m_history);
        sheet->setNotes(m_notes);
        connect(sheet, &SheetView::openBacklogRequested, &m_nav, [this] { m_nav.setPage(Navigation::Page::backlog); });
        connect(sheet, &SheetView::openSettingsRequested, &m_nav,
                [this] { m_nav.setPage(Navigation::Page::settings); });
        return sheet;
    }
    case Navigation::Page::backlog: {
        auto *backlog = new BacklogView(m_store, size);
        backlog->setHistory(m_history);
        connect(backlog, &BacklogView::openTodayRequested, &m_nav, [this] { m_nav.setPage(Navigation::Page::today); });
        return backlog;
    }
    case Navigation::Page::settings: {
        auto *settings = new SettingsView(m_store, m_settings, m_makeShortcutControl);
        settings->setHistory(m_history);
        if (m_sync)
            settings->addSyncSection(*m_sync);
        connect(settings, &SettingsView::closeRequested, &m_nav, [this] { m_nav.setPage(Navigation::Page::today); });
        return settings;
    }
    }
    return nullptr;
}

// Switching pages replaces the page at once, without a transition. The old page may be the one whose button asked
// for the switch, still inside its click: it goes out of sight now and is deleted once the click is over.
void ContentView::buildPage()
{
    if (m_paper) {
        keepWhatWasTyped();
        // A field being edited on the old page loses the focus first, as when the user clicks elsewhere, so that
        // what was typed is kept rather than lost with the page.
        if (QWidget *focus = QApplication::focusWidget(); focus && m_paper->isAncestorOf(focus))
            focus->clearFocus();
        m_paper->hide();
        m_layout->removeWidget(m_paper);
        m_paper->deleteLater();
    }
    m_builtPage = m_nav.page();
    m_paper = new PaperSheet(makePage(m_builtPage), false, this);
    m_layout->insertWidget(0, m_paper, 1);
    m_paper->show();
    // Keyboard focus stays in the window, not on a page that is gone; on Today typing goes to the sheet.
    if (window()->isActiveWindow() && !focusWidget())
        focusTarget()->setFocus(Qt::OtherFocusReason);
}

QWidget *ContentView::focusTarget()
{
    QWidget *shown = page();
    return shown && shown->focusPolicy() != Qt::NoFocus ? shown : this;
}

// The text size only changes on the Settings page, which shows it itself; the pages that read it while they are
// built take the new size at once should they be on screen.
void ContentView::applyTextSize()
{
    const Paper::TextSize size = m_settings.textSize();
    if (auto *sheet = qobject_cast<SheetView *>(page()))
        sheet->setTextSize(size);
    else if (auto *backlog = qobject_cast<BacklogView *>(page()))
        backlog->setTextSize(size);
}

// The whole window takes the scheme at once: `auto` the desktop's, `light` and `dark` their own.
void ContentView::applyAppearance()
{
    Paper::Scheme scheme = Paper::Scheme::light;
    switch (m_settings.appearance()) {
    case Paper::Appearance::automatic:
        scheme = schemeOf(m_desktopScheme);
        break;
    case Paper::Appearance::light:
        scheme = Paper::Scheme::light;
        break;
    case Paper::Appearance::dark:
        scheme = Paper::Scheme::dark;
        break;
    }
    QWidget *target = window();
    if (target != this)
        setPalette(QPalette()); // take the window's
    target->setPalette(Paper::qtPalette(scheme));
    Paper::applySchemeToPopups(scheme);
}

bool ContentView::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::ParentChange:
        applyAppearance(); // a window that takes the view takes its appearance too
        break;
    case QEvent::Show:
        installEscapeFilter();
        break;
    case QEvent::Hide:
        removeEscapeFilter();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void ContentView::installEscapeFilter()
{
    if (m_escapeFilterInstalled)
        return;
    qApp->installEventFilter(this);
    m_escapeFilterInstalled = true;
}

void ContentView::removeEscapeFilter()
{
    if (!m_escapeFilterInstalled)
        return;
    qApp->removeEventFilter(this);
    m_escapeFilterInstalled = false;
}

bool ContentView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && handleEscape(event))
        return true;
    return QWidget::eventFilter(watched, event);
}

// Escape, whatever the modifiers, in the main window: back to Today, and no view sees the key. A text field keeps
// it, and so do an open menu, the menu bar and a dialog, which close or leave with it: a dialog may be asking on
// behalf of the page that would go away under it. Text waiting in the full sheet's note is taken back with it.
bool ContentView::handleEscape(QEvent *event)
{
    if (static_cast<QKeyEvent *>(event)->key() != Qt::Key_Escape)
        return false;
    QWidget *focus = QApplication::focusWidget();
    if (QApplication::activePopupWidget() || QApplication::activeModalWidget() || isTextEditor(focus) ||
        qobject_cast<QMenuBar *>(focus) || qobject_cast<QDialog *>(QApplication::activeWindow()))
        return false;
    if (auto *sheet = qobject_cast<SheetView *>(page()); sheet && sheet->holdsTypedText())
        return false;
    m_nav.setPage(Navigation::Page::today);
    return true;
}
