// The checks of a recorded shortcut against the menus, and the alerts that tell of a conflict, kept apart from
// the field's recording and drawing.
#include "GlobalShortcuts/RecorderField.h"

#include "GlobalShortcuts/ActionShortcut.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace GlobalShortcuts {

namespace {

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

std::optional<QString> searchActions(const QList<QAction *> &actions, Shortcut candidate, const QString &own)
{
    // Depth first in item order, each submenu right after its item. An item that runs the recorded name's own
    // action is no conflict: its shortcut follows the recorded one.
    for (QAction *action : actions) {
        if (action->isSeparator() || followedName(*action) == own)
            continue;
        for (const QKeySequence &sequence : action->shortcuts()) {
            if (sequence.count() == 1 && menuItemMatches(sequence[0], candidate))
                return plainTitle(*action);
        }
        if (QMenu *submenu = action->menu()) {
            if (auto found = searchActions(submenu->actions(), candidate, own))
                return found;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> RecorderField::menuItemUsing(Shortcut candidate) const
{
    for (QMenuBar *menuBar : window()->findChildren<QMenuBar *>()) {
        if (auto found = searchActions(menuBar->actions(), candidate, m_name.rawValue()))
            return found;
    }
    return std::nullopt;
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

} // namespace GlobalShortcuts
