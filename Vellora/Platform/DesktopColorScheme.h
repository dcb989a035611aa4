#pragma once

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <optional>

class QDBusMessage;

// Whether the desktop prefers light or dark, for the `auto` appearance. The freedesktop settings portal's
// "color-scheme" says it where a portal runs; otherwise, and while the portal states no preference, the
// application palette does. Both are followed while the app runs.
class DesktopColorScheme : public QObject
{
    Q_OBJECT

public:
    enum class Scheme { light, dark };

    // Asks the portal on the user's session bus.
    explicit DesktopColorScheme(QObject *parent = nullptr);
    // Asks the portal on the given bus (tests run their own).
    explicit DesktopColorScheme(const QDBusConnection &bus, QObject *parent = nullptr);

    Scheme scheme() const;
    bool isDark() const { return scheme() == Scheme::dark; }

signals:
    void schemeChanged(DesktopColorScheme::Scheme scheme);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    // D-Bus signals bind only to a slot named by its signature; the message form is the one QtDBus matches
    // reliably.
    void portalSettingChanged(const QDBusMessage &message);

private:
    void askPortal();
    void setPortalValue(const QVariant &value);
    void update(const std::function<void()> &change);

    QDBusConnection m_bus;
    std::optional<Scheme> m_portalScheme; // none: no portal, or it states no preference
    Scheme m_paletteScheme;
};
