#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QMenu;
class QMenuBar;
class QWidget;

// Keeps the menu bar from holding on to the keyboard. Left to itself, the bar stays in its keyboard mode after
// Escape closes one of its menus, and keeps the focus after a menu closes when nothing had it before; typed letters
// and arrows then open menus that nobody sees and run their commands. Here Escape closes the menu and leaves the
// bar at once, and a key that reaches the bar while none of its titles is highlighted goes where the focus was.
class MenuBarFocus : public QObject
{
    Q_OBJECT

public:
    // fallback names where the focus goes when nothing had it before the bar took it.
    MenuBarFocus(QMenuBar *bar, std::function<QWidget *()> fallback);
    ~MenuBarFocus() override;

    // Ends the bar's keyboard mode and gives the focus back to where it was.
    void leave();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The bar's own menu that is open now, if any.
    QMenu *openMenu() const;
    // The bar has the focus but shows nothing that says so.
    bool holdsFocusUnseen() const;
    // Leaves the bar once the events of the moment are done, if it still holds the focus unseen then.
    void leaveIfUnseen();

    QPointer<QMenuBar> m_bar;
    std::function<QWidget *()> m_fallback;
    QPointer<QWidget> m_returnTo;
};
