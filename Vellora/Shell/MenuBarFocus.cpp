#include "Vellora/Shell/MenuBarFocus.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

MenuBarFocus::MenuBarFocus(QMenuBar *bar, std::function<QWidget *()> fallback)
    : QObject(bar), m_bar(bar), m_fallback(std::move(fallback))
{
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        if (now == m_bar)
            m_returnTo = old && old != m_bar && old->window() == m_bar->window() ? old : nullptr;
    });
    // A command chosen from a menu closes it and ends the keyboard mode, but the bar keeps the focus when nothing
    // had it before; a screen reader would go on reading the bar as focused.
    for (QAction *action : bar->actions()) {
        if (QMenu *menu = action->menu()) {
            connect(menu, &QMenu::aboutToHide, this, &MenuBarFocus::leaveIfUnseen);
        }
    }
    qApp->installEventFilter(this);
}

MenuBarFocus::~MenuBarFocus()
{
    qApp->removeEventFilter(this);
}

QMenu *MenuBarFocus::openMenu() const
{
    auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    return popup && m_bar && m_bar->actions().contains(popup->menuAction()) ? popup : nullptr;
}

bool MenuBarFocus::holdsFocusUnseen() const
{
    return m_bar && m_bar->hasFocus() && !m_bar->activeAction() && !QApplication::activePopupWidget();
}

void MenuBarFocus::leave()
{
    // A menu opened with the pointer never took the focus: it stays where it is (in a row being typed in, say).
    if (!m_bar || !m_bar->hasFocus())
        return;
    QWidget *target = m_returnTo ? m_returnTo.data() : m_fallback ? m_fallback() : nullptr;
    m_returnTo = nullptr;
    // Losing the focus is what ends the bar's keyboard mode.
    m_bar->clearFocus();
    if (target && target->isVisible() && target->window() == m_bar->window())
        target->setFocus(Qt::MenuBarFocusReason);
}

void MenuBarFocus::leaveIfUnseen()
{
    QTimer::singleShot(0, this, [this] {
        if (holdsFocusUnseen())
            leave();
    });
}

bool MenuBarFocus::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_bar)
        return false;
    // The window coming back to the front (after a dialog a menu opened) hands the focus back to the bar.
    if (watched == m_bar && event->type() == QEvent::FocusIn && !m_bar->activeAction())
        leaveIfUnseen();
    if (event->type() != QEvent::KeyPress)
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    const bool escape = key->key() == Qt::Key_Escape;
    if (QMenu *menu = openMenu()) {
        if (!escape)
            return false;
        menu->hide();
        leave();
        return true;
    }
    if (QApplication::focusWidget() != m_bar || QApplication::activePopupWidget())
        return false;
    // A highlighted title shows that the keys go to the menus; Escape leaves them.
    if (m_bar->activeAction() && !escape)
        return false;
    leave();
    if (escape)
        return true;
    // The key was meant for where the focus was before the bar held on to it.
    if (QWidget *focus = QApplication::focusWidget(); focus && focus != m_bar) {
        QKeyEvent again(key->type(), key->key(), key->modifiers(), key->text(), key->isAutoRepeat(),
                        ushort(key->count()));
        QCoreApplication::sendEvent(focus, &again);
    }
    return true;
}
