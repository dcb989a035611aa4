#include "Vellora/Platform/XdgAutostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

constexpr auto kEntryName = "app.vellora.Vellora.desktop";

// Characters that make an argument need quotes, and those that must be escaped inside the quotes.
constexpr auto kReserved = " \t\n\"'\\><~|&;$*?#()`";
constexpr auto kEscapedInQuotes = "\"`$\\";

QString quoteArgument(const QString &argument)
{
    QString quoted;
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument) {
        if (QLatin1String(kReserved).contains(c))
            needsQuotes = true;
        if (QLatin1String(kEscapedInQuotes).contains(c))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    // A literal percent sign is written twice, or it would read as a field code.
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return needsQuotes ? QLatin1Char('"') + quoted + QLatin1Char('"') : quoted;
}

// The value of a key in the [Desktop Entry] group, or empty.
QString desktopEntryValue(const QByteArray &text, const QString &key)
{
    bool inMainGroup = false;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const auto equals = line.indexOf(QLatin1Char('='));
        if (inMainGroup && equals > 0 && line.left(equals).trimmed() == key)
            return line.mid(equals + 1).trimmed();
    }
    return {};
}

} // namespace

std::unique_ptr<LoginItemService> makeLoginItemService()
{
    return XdgAutostart::forThisProgram();
}

XdgAutostart::XdgAutostart(QString configHome, QStringList command)
    : m_configHome(std::move(configHome)), m_command(std::move(command))
{
}

std::unique_ptr<XdgAutostart> XdgAutostart::forThisProgram()
{
    return std::make_unique<XdgAutostart>(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                                          QStringList{QCoreApplication::applicationFilePath()});
}

QString XdgAutostart::entryPath() const
{
    return m_configHome + QStringLiteral("/autostart/") + QLatin1String(kEntryName);
}

bool XdgAutostart::isEnabled() const
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return desktopEntryValue(file.readAll(), QStringLiteral("Hidden")) != QLatin1String("true");
}

std::optional<QString> XdgAutostart::registerApp()
{
    const QString folder = QFileInfo(entryPath()).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("The folder %1 could not be created.").arg(QDir::toNativeSeparators(folder));
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("The login item could not be written: %1").arg(file.errorString());
    file.write(entryText());
    if (!file.commit())
        return QStringLiteral("The login item could not be written: %1").arg(file.errorString());
    return std::nullopt;
}

std::optional<QString> XdgAutostart::unregisterApp()
{
    QFile file(entryPath());
    if (!file.exists() || file.remove())
        return std::nullopt;
    return QStringLiteral("The login item could not be removed: %1").arg(file.errorString());
}

QString XdgAutostart::execLine(const QStringList &command)
{
    QStringList quoted;
    for (const QString &argument : command)
        quoted.append(quoteArgument(argument));
    // The value itself is an escaped string, in which a backslash is written twice.
    QString value = quoted.join(QLatin1Char(' ')).replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return value.replace(QLatin1Char('\n'), QStringLiteral("\\n"))
        .replace(QLatin1Char('\t'), QStringLiteral("\\t"))
        .replace(QLatin1Char('\r'), QStringLiteral("\\r"));
}

QByteArray XdgAutostart::entryText() const
{
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Vellora\n"
                                        "Comment=Opens the day planner when you log in\n"
                                        "Exec=%1\n"
                                        "Icon=app.vellora.Vellora\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(execLine(m_command));
    return text.toUtf8();
}
