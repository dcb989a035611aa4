#pragma once

#include "Vellora/Paper/Paper.h"

#include <QDateTime>
#include <QWidget>

#include <array>
#include <functional>

class AppSettings;
class AppSync;
class DayStore;
class PaperButtonStyle;
class PaperChoiceStyle;
class PaperLabel;
class PaperSwitch;
class QBoxLayout;
class QScrollArea;
class QVBoxLayout;
class UndoHistory;

// The Settings page: text size with its preview, appearance, starting a new day, and how the app lives on the
// desktop (taskbar entry, tray item, launch at login, the global show-or-hide shortcut). Every control writes
// straight into the settings, which take effect at once; the page keeps no state of its own and shows their
// current values.
class SettingsView : public QWidget
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    // Makes the control of the "Global shortcut" row in place of the recorder of the window toggle's shortcut
    // (tests); the page names it "settings.shortcut".
    using ShortcutControlFactory = std::function<QWidget *()>;

    SettingsView(DayStore &store, AppSettings &settings, const ShortcutControlFactory &makeShortcutControl = {},
                 QWidget *parent = nullptr);

    // The clock "Start a new day" reads; the system clock when empty.
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // Where a new day started here is kept for Undo; none keeps none.
    void setHistory(UndoHistory *history) { m_history = history; }
    QScrollArea *scrollArea() const { return m_scroll; }
    // Adds the SYNC section (state, sign in and out, sync now) at the foot of the page.
    void addSyncSection(AppSync &sync);

signals:
    // "Today →": leave the page.
    void closeRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Where the view is too short for the sections, they come closer before the page scrolls.
    void fitSections();
    void buildTextSizeSection(QVBoxLayout *sections);
    void buildAppearanceSection(QVBoxLayout *sections);
    void buildNewDaySection(QVBoxLayout *sections);
    void buildWindowSection(QVBoxLayout *sections, const ShortcutControlFactory &makeShortcutControl);
    QVBoxLayout *addSection(QVBoxLayout *sections, const QString &header, int spacing);
    PaperSwitch *addSwitchRow(QBoxLayout *section, const QString &title, const QString &identifier,
                              bool (AppSettings::*read)() const, void (AppSettings::*write)(bool),
                              void (AppSettings::*changed)(bool));
    PaperLabel *rowTitle(const QString &text);
    void showTextSize();
    void showAppearance();
    void showLoginNote();
    void showShortcutNote();

    DayStore &m_store;
    AppSettings &m_settings;
    Clock m_clock;
    UndoHistory *m_history = nullptr;

    QScrollArea *m_scroll = nullptr;
    QVBoxLayout *m_sections = nullptr;
    PaperLabel *m_preview = nullptr;
    std::array<PaperChoiceStyle *, 3> m_sizeChoices{};
    std::array<PaperChoiceStyle *, 3> m_appearanceChoices{};
    PaperLabel *m_shortcutNote = nullptr;
    PaperLabel *m_loginNote = nullptr;
    PaperLabel *m_reachNote = nullptr;
};
