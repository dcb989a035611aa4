// Renders the Settings page, light and dark, into PNG files: `vellora_shell_screenshots OUTPUT_DIR`.

#include "tests/Sheet/SheetTestSupport.h"

#include "Vellora/Platform/DesktopColorScheme.h"
#include "Vellora/Platform/FakeLoginItemService.h"
#include "Vellora/Platform/JsonSettingsFormat.h"
#include "Vellora/Shell/AppSettings.h"
#include "Vellora/Shell/ContentView.h"
#include "Vellora/Shell/Navigation.h"
#include "Vellora/Shell/ToggleShortcut.h"

#include "GlobalShortcuts/FakeHotKeyBackend.h"
#include "GlobalShortcuts/HotKey.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Shot
{
    QString name;
    Paper::Appearance appearance;
    Paper::TextSize size;
    bool loginNote;
};

bool render(const QString &directory, const Shot &shot)
{
    QTemporaryDir config;
    const auto defaults = JsonSettingsFormat::open(config.filePath("defaults.json"));
    FakeLoginItemService loginItems;
    AppSettings settings(*defaults, loginItems, nullptr);
    // A desktop that gives the shortcut, or, with the notes, one that has no global shortcuts at all.
    auto desktopKeys = std::make_unique<GlobalShortcuts::FakeHotKeyBackend>();
    desktopKeys->setAvailable(!shot.loginNote);
    GlobalShortcuts::HotKeyCenter::shared().setBackend(std::move(desktopKeys));
    GlobalShortcuts::setStorage(defaults.get()); // the recorder shows the stored shortcut
    GlobalShortcuts::onKeyUp(ToggleShortcut::name(), [] {});
    // The note shots also show a recorded shortcut, and so the way back to the initial one.
    if (shot.loginNote)
        GlobalShortcuts::storeShortcut(
            GlobalShortcuts::Shortcut(GlobalShortcuts::Key::v, Qt::ControlModifier | Qt::AltModifier),
            ToggleShortcut::name());
    settings.setAppearance(shot.appearance);
    settings.setTextSize(shot.size);
    settings.setShowInMenuBar(true);
    if (shot.loginNote) {
        loginItems.failure = QStringLiteral("Cannot write /home/user/.config/autostart/app.vellora.Vellora.desktop: "
                                            "Permission denied");
        settings.setOpenAtLogin(true);
    }
    const auto store = SheetTest::makeStore();
    DesktopColorScheme desktop(QDBusConnection(QStringLiteral("vellora-no-bus")));
    Navigation nav;
    nav.setPage(Navigation::Page::settings);
    ContentView view(*store, settings, nav, &desktop);
    view.resize(430, 760);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return false;
    QCoreApplication::processEvents();
    const QString file = QDir(directory).filePath(QStringLiteral("%1.png").arg(shot.name));
    const bool saved = SheetTest::saveScreenshot(view, file);
    GlobalShortcuts::removeActions(ToggleShortcut::name());
    GlobalShortcuts::setStorage(nullptr);
    return saved;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString directory = SheetTest::screenshotFolder(argc, argv);

    const QList<Shot> shots{
        {QStringLiteral("settings-light-m"), Paper::Appearance::light, Paper::TextSize::medium, false},
        {QStringLiteral("settings-dark-m"), Paper::Appearance::dark, Paper::TextSize::medium, false},
        {QStringLiteral("settings-light-l-note"), Paper::Appearance::light, Paper::TextSize::large, true},
        {QStringLiteral("settings-dark-s-note"), Paper::Appearance::dark, Paper::TextSize::small, true},
    };
    bool ok = true;
    for (const Shot &shot : shots)
        ok = render(directory, shot) && ok;
    return ok ? 0 : 1;
}
