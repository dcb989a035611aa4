#pragma once

#include "Vellora/Shell/Navigation.h"
#include "Vellora/Shell/SettingsView.h"

#include "Vellora/Paper/PaperSheet.h"

#include <QPointer>
#include <QWidget>

class AppSettings;
class AppSync;
class DayStore;
class DesktopColorScheme;
class NoteBar;
class UndoHistory;
class QVBoxLayout;

// The main window's content: the page that Navigation names, drawn on the paper sheet and built anew, at once,
// whenever the page changes; the user's appearance applied to the whole window; and, while it is on screen, the
// Escape key of the main window brings the user back to Today (a text field, the menus and dialogs keep their own
// Escape).
class ContentView : public QWidget
{
    Q_OBJECT

public:
    // Short enough for a small screen: the pages scroll where they must.
    static constexpr QSize kMinimumSize{380, 460};

    // The desktop's colour scheme is what the `auto` appearance follows; without one it follows the palette.
    ContentView(DayStore &store, AppSettings &settings, Navigation &nav, DesktopColorScheme *desktopScheme = nullptr,
                QWidget *parent = nullptr);
    ~ContentView() override;

    // How the Settings page makes its shortcut control; a Settings page on screen is built again with it.
    void setShortcutControlFactory(SettingsView::ShortcutControlFactory factory);
    // The sync the Settings page shows and controls; none hides its section.
    void setSync(AppSync *sync) { m_sync = sync; }

    // Where the pages keep their changes for Undo; the notes follow it.
    void setHistory(UndoHistory *history);
    // Keeps what is being typed in a row, as Return would, before the window goes.
    void finishEditing();
    // The same, and what waits from typing on a full sheet goes to the Backlog: before the page or the app goes.
    void keepWhatWasTyped();
    // The notes at the foot of every page.
    NoteBar *notes() const { return m_notes; }

    // The page on screen: SheetView, BacklogView or SettingsView, and the paper it lies on.
    QWidget *page() const;
    PaperSheet *paper() const { return m_paper; }
    Navigation::Page builtPage() const { return m_builtPage; }
    // Where the keyboard goes on this page when nothing in the window has it.
    QWidget *focusTarget();
    bool isEscapeFilterInstalled() const { return m_escapeFilterInstalled; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildPage();
    QWidget *makePage(Navigation::Page page);
    void applyTextSize();
    void applyAppearance();
    void installEscapeFilter();
    void removeEscapeFilter();
    bool handleEscape(QEvent *event);

    DayStore &m_store;
    AppSettings &m_settings;
    Navigation &m_nav;
    QPointer<DesktopColorScheme> m_desktopScheme;
    SettingsView::ShortcutControlFactory m_makeShortcutControl;
    AppSync *m_sync = nullptr;

    QVBoxLayout *m_layout = nullptr;
    NoteBar *m_notes = nullptr;
    UndoHistory *m_history = nullptr;
    QPointer<PaperSheet> m_paper;
    Navigation::Page m_builtPage = Navigation::Page::today;
    bool m_escapeFilterInstalled = false;
};
