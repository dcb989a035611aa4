#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class DockPresence;
class LoginItemService;
class QSettings;

// The user's preferences: text size, appearance, the taskbar entry, the tray item and opening at login. Read from
// the defaults when made (writing nothing), each written back as soon as it is assigned; the taskbar entry and the
// login item take effect at once. Signals fire only when a value really changes; the writes and side effects
// happen on every assignment. One instance lives for the whole run, on the main thread.
//
// Text size and appearance are handled as their stored raw values: "s", "m", "l" and "auto", "light", "dark".
class AppSettings : public QObject
{
    Q_OBJECT

public:
    static constexpr auto kTextSizeKey = "textSize";
    static constexpr auto kAppearanceKey = "appearance";
    static constexpr auto kShowInDockKey = "showInDock";
    static constexpr auto kShowInMenuBarKey = "showInMenuBar";
    // The key under which the tray item's own visibility is kept; set whenever the item is switched on.
    static constexpr auto kStatusItemVisibleKey = "NSStatusItem Visible Item-0";

    // The raw values, in the order the Settings page offers them.
    static QStringList textSizes();
    static QStringList appearances();

    // The defaults and the login-item service outlive the settings; the taskbar presence may be null.
    AppSettings(QSettings &defaults, LoginItemService &loginItems, DockPresence *dockPresence,
                QObject *parent = nullptr);

    QString textSize() const { return m_textSize; }
    QString appearance() const { return m_appearance; }
    bool showInDock() const { return m_showInDock; }
    bool showInMenuBar() const { return m_showInMenuBar; }
    bool openAtLogin() const { return m_openAtLogin; }
    // Why the last change of the login item failed; none once a change succeeds.
    std::optional<QString> loginItemNote() const { return m_loginItemNote; }

    // A text that is no raw value is ignored.
    void setTextSize(const QString &textSize);
    void setAppearance(const QString &appearance);
    void setShowInDock(bool show);
    void setShowInMenuBar(bool show);
    void setOpenAtLogin(bool open);

signals:
    void textSizeChanged(const QString &textSize);
    void appearanceChanged(const QString &appearance);
    void showInDockChanged(bool show);
    void showInMenuBarChanged(bool show);
    void openAtLoginChanged(bool open);
    void loginItemNoteChanged();

private:
    QString readText(const char *key, const QStringList &allowed, const QString &fallback) const;
    bool readBool(const char *key, bool fallback) const;
    void write(const char *key, const QVariant &value);
    void applyDockPresence();
    void applyLoginRule();
    void setLoginItemNote(const std::optional<QString> &note);

    QSettings &m_defaults;
    LoginItemService &m_loginItems;
    DockPresence *m_dockPresence;

    QString m_textSize;
    QString m_appearance;
    bool m_showInDock = true;
    bool m_showInMenuBar = false;
    bool m_openAtLogin = false;
    std::optional<QString> m_loginItemNote;
};
