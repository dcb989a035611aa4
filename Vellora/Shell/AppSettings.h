#pragma once

#include "Vellora/Paper/Paper.h"

#include <QObject>
#include <QString>

#include <optional>

class TaskbarEntry;
class LoginItemService;
class QSettings;

// The user's preferences: text size, appearance, the taskbar entry, the tray item and opening at login. Read from
// the defaults when made (writing nothing), each written back as soon as it is assigned; the taskbar entry and the
// login item take effect at once. Signals fire only when a value really changes; the writes and side effects
// happen on every assignment. One instance lives for the whole run, on the main thread.
//
// Text size and appearance are stored as their stored forms: "s", "m", "l" and "auto", "light", "dark".
class AppSettings : public QObject
{
    Q_OBJECT

public:
    static constexpr auto kTextSizeKey = "textSize";
    static constexpr auto kAppearanceKey = "appearance";
    static constexpr auto kShowTaskbarEntryKey = "showTaskbarEntry";
    static constexpr auto kShowTrayIconKey = "showTrayIcon";

    // The defaults and the login-item service outlive the settings; the taskbar presence may be null.
    AppSettings(QSettings &defaults, LoginItemService &loginItems, TaskbarEntry *taskbarEntry,
                QObject *parent = nullptr);

    Paper::TextSize textSize() const { return m_textSize; }
    Paper::Appearance appearance() const { return m_appearance; }
    bool showTaskbarEntry() const { return m_showTaskbarEntry; }
    bool showTrayIcon() const { return m_showTrayIcon; }
    bool openAtLogin() const { return m_openAtLogin; }
    // Why the last change of the login item failed; none once a change succeeds.
    std::optional<QString> loginItemNote() const { return m_loginItemNote; }
    // Why the settings file could not be written at the last change; none once a write succeeds. The values stay
    // in effect for this run all the same.
    std::optional<QString> saveError() const { return m_saveError; }

    void setTextSize(Paper::TextSize textSize);
    void setAppearance(Paper::Appearance appearance);
    void setShowTaskbarEntry(bool show);
    void setShowTrayIcon(bool show);
    void setOpenAtLogin(bool open);

signals:
    void textSizeChanged(Paper::TextSize textSize);
    void appearanceChanged(Paper::Appearance appearance);
    void showTaskbarEntryChanged(bool show);
    void showTrayIconChanged(bool show);
    void openAtLoginChanged(bool open);
    void loginItemNoteChanged();
    void saveErrorChanged();

private:
    // The text stored under the key; empty when there is none or the value is not a text.
    QString readText(const char *key) const;
    bool readBool(const char *key, bool fallback) const;
    void write(const char *key, const QVariant &value);
    void renameOldKeys();
    void applyTaskbarEntry();
    void applyLoginRule();
    void setLoginItemNote(const std::optional<QString> &note);

    QSettings &m_defaults;
    LoginItemService &m_loginItems;
    TaskbarEntry *m_taskbarEntry;

    Paper::TextSize m_textSize = Paper::TextSize::medium;
    Paper::Appearance m_appearance = Paper::Appearance::automatic;
    bool m_showTaskbarEntry = true;
    bool m_showTrayIcon = false;
    bool m_openAtLogin = false;
    std::optional<QString> m_loginItemNote;
    std::optional<QString> m_saveError;
};
