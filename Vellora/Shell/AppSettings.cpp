#include "Vellora/Shell/AppSettings.h"

#include "Vellora/Platform/TaskbarEntry.h"
#include "Vellora/Platform/LoginItemService.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QSettings>

AppSettings::AppSettings(QSettings &defaults, LoginItemService &loginItems, TaskbarEntry *taskbarEntry, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_loginItems(loginItems), m_taskbarEntry(taskbarEntry)
{
    renameOldKeys();
    // Only a stored text counts, and only one of the raw values exactly; anything else reads as the default.
    m_textSize = Paper::textSizeFromStoredForm(readText(kTextSizeKey)).value_or(Paper::TextSize::medium);
    m_appearance = Paper::appearanceFromStoredForm(readText(kAppearanceKey)).value_or(Paper::Appearance::automatic);
    m_showTaskbarEntry = readBool(kShowTaskbarEntryKey, true);
    m_showTrayIcon = readBool(kShowTrayIconKey, false);
    // Taken from the system at every launch; the rule finds nothing to change.
    setOpenAtLogin(m_loginItems.isEnabled());
    applyTaskbarEntry();
}

void AppSettings::setTextSize(Paper::TextSize textSize)
{
    const bool changed = m_textSize != textSize;
    m_textSize = textSize;
    write(kTextSizeKey, Paper::storedForm(textSize));
    if (changed)
        emit textSizeChanged(textSize);
}

void AppSettings::setAppearance(Paper::Appearance appearance)
{
    const bool changed = m_appearance != appearance;
    m_appearance = appearance;
    write(kAppearanceKey, Paper::storedForm(appearance));
    if (changed)
        emit appearanceChanged(appearance);
}

void AppSettings::setShowTaskbarEntry(bool show)
{
    const bool changed = m_showTaskbarEntry != show;
    m_showTaskbarEntry = show;
    write(kShowTaskbarEntryKey, show);
    applyTaskbarEntry();
    if (changed)
        emit showTaskbarEntryChanged(show);
}

void AppSettings::setShowTrayIcon(bool show)
{
    const bool changed = m_showTrayIcon != show;
    m_showTrayIcon = show;
    write(kShowTrayIconKey, show);
    if (changed)
        emit showTrayIconChanged(show);
}

void AppSettings::setOpenAtLogin(bool open)
{
    const bool changed = m_openAtLogin != open;
    m_openAtLogin = open;
    if (changed)
        emit openAtLoginChanged(open);
    applyLoginRule();
}

// The switch asks the service for the new state. On failure the switch falls back to the system's real state
// and the note says why; assigning that state runs this rule again, which then finds nothing to change.
void AppSettings::applyLoginRule()
{
    if (m_loginItems.isEnabled() == m_openAtLogin)
        return;
    const std::optional<QString> error = m_openAtLogin ? m_loginItems.registerApp() : m_loginItems.unregisterApp();
    if (!error) {
        setLoginItemNote(std::nullopt);
        return;
    }
    setLoginItemNote(*error);
    setOpenAtLogin(m_loginItems.isEnabled());
}

void AppSettings::setLoginItemNote(const std::optional<QString> &note)
{
    if (m_loginItemNote == note)
        return;
    m_loginItemNote = note;
    emit loginItemNoteChanged();
}

QString AppSettings::readText(const char *key) const
{
    const QVariant value = m_defaults.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool AppSettings::readBool(const char *key, bool fallback) const
{
    const QVariant value = m_defaults.value(QLatin1String(key));
    return value.typeId() == QMetaType::Bool ? value.toBool() : fallback;
}

void AppSettings::write(const char *key, const QVariant &value)
{
    m_defaults.setValue(QLatin1String(key), value);
    // Written at once, so that a crash right after a change keeps it.
    const QFileInfo file(m_defaults.fileName());
    const QDateTime before = file.exists() ? file.lastModified() : QDateTime();
    m_defaults.sync();
    // The settings keep the first error they met for good: after one, only a file written anew tells of success.
    const QFileInfo after(m_defaults.fileName());
    const bool written = after.exists() && (!before.isValid() || after.lastModified() > before);
    std::optional<QString> error;
    if (m_defaults.status() != QSettings::NoError && !written)
        error = QStringLiteral("Settings not saved: %1 cannot be written. They hold until Vellora quits.")
                    .arg(m_defaults.fileName());
    if (error != m_saveError) {
        m_saveError = error;
        emit saveErrorChanged();
    }
}

// The first versions stored the two switches under borrowed names (and the tray item's visibility twice): their
// values are read once, written under the plain names, and the old keys go.
void AppSettings::renameOldKeys()
{
    static constexpr std::pair<const char *, const char *> kRenamed[] = {
        {"showInDock", kShowTaskbarEntryKey}, {"showInMenuBar", kShowTrayIconKey}};
    static constexpr auto kDropped = "NSStatusItem Visible Item-0";
    bool found = m_defaults.contains(QLatin1String(kDropped));
    for (const auto &[old, key] : kRenamed) {
        if (!m_defaults.contains(QLatin1String(old)))
            continue;
        found = true;
        if (!m_defaults.contains(QLatin1String(key)))
            m_defaults.setValue(QLatin1String(key), m_defaults.value(QLatin1String(old)));
        m_defaults.remove(QLatin1String(old));
    }
    if (!found)
        return;
    m_defaults.remove(QLatin1String(kDropped));
    // Written through the checked path; a failure leaves the old keys on disk, read the same way next time.
    write(kShowTrayIconKey, m_defaults.value(QLatin1String(kShowTrayIconKey), false));
}

void AppSettings::applyTaskbarEntry()
{
    // Without an application object there is no window to apply it to; the value is stored all the same.
    if (m_taskbarEntry && QCoreApplication::instance())
        m_taskbarEntry->setShownInTaskbar(m_showTaskbarEntry);
}
