// Renders the Settings page, the menus and About, light and dark, into PNG files:
// `vellora_shell_screenshots OUTPUT_DIR`.

#include "ScreenshotSupport.h"
#include "tests/Sheet/SheetTestSupport.h"

#include "Vellora/DayData/DayStore.h"
#include "Vellora/Paper/Paper.h"
#include "Vellora/Platform/DesktopColorScheme.h"
#include "Vellora/Platform/FakeLoginItemService.h"
#include "Vellora/Platform/JsonSettingsFormat.h"
#include "Vellora/Sheet/SheetView.h"
#include "Vellora/Sheet/SlotRow.h"
#include "Vellora/Shell/AppSettings.h"
#include "Vellora/Shell/ContentView.h"
#include "Vellora/Shell/Navigation.h"
#include "Vellora/Shell/DeviceLinkDialog.h"
#include "Vellora/Shell/RecoveryKeyDialog.h"
#include "Vellora/Shell/SignInDialog.h"
#include "Vellora/Shell/ToggleShortcut.h"
#include "Vellora/Shell/VelloraApp.h"
#include "Vellora/Shell/WindowController.h"

#include "GlobalShortcuts/HotKeyCenter.h"
#include "tests/GlobalShortcuts/FakeHotKeyBackend.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDBusConnection>
#include <QDir>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kGap = 12; // between the menus of the picture

struct Shot
{
    QString name;
    Paper::Appearance appearance;
    Paper::TextSize size;
    bool loginNote;
    bool bothOff = false; // neither taskbar entry nor tray icon
};

bool render(const QString &directory, const Shot &shot)
{
    QTemporaryDir config;
    const auto defaults = JsonSettingsFormat::open(config.filePath("defaults.json"));
    FakeLoginItemService loginItems;
    AppSettings settings(*defaults, loginItems, nullptr);
    // A desktop that gives the shortcut, or, with the notes, one that has no global shortcuts at all.
    auto desktopKeys = std::make_unique<FakeHotKeyBackend>();
    desktopKeys->setAvailable(!shot.loginNote);
    GlobalShortcuts::HotKeyCenter::shared().setBackend(std::move(desktopKeys));
    GlobalShortcuts::setStorage(defaults.get()); // the recorder shows the stored shortcut
    GlobalShortcuts::onKeyUp(ToggleShortcut::name(), [] {});
    // The note shots also show a recorded shortcut, and so the way back to the initial one.
    if (shot.loginNote)
        GlobalShortcuts::storeShortcut(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_V),
                                       ToggleShortcut::name());
    settings.setAppearance(shot.appearance);
    settings.setTextSize(shot.size);
    settings.setShowTrayIcon(!shot.bothOff);
    settings.setShowTaskbarEntry(!shot.bothOff);
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
    const bool saved = Screenshots::save(view, file);
    GlobalShortcuts::removeActions(ToggleShortcut::name());
    GlobalShortcuts::setStorage(nullptr);
    return saved;
}

// The menu bar over its four menus, opened side by side; menus are drawn by themselves, as an open menu needs a
// window system to show.
QImage menusImage(QMainWindow &window)
{
    QMenuBar *bar = window.menuBar();
    QList<QImage> menus;
    int width = 0;
    int height = 0;
    for (QAction *action : bar->actions()) {
        QMenu *menu = action->menu();
        menu->ensurePolished();
        menu->adjustSize();
        menus.append(menu->grab().toImage());
        width += menus.last().width() + kGap;
        height = std::max(height, menus.last().height());
    }
    const QImage barImage = bar->grab().toImage();
    QImage image(std::max(width + kGap, barImage.width()), barImage.height() + height + 2 * kGap,
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(barImage.devicePixelRatio());
    image.fill(Paper::palette(Paper::Scheme::dark).desk);
    QPainter painter(&image);
    painter.drawImage(QPoint(0, 0), barImage);
    int x = kGap;
    for (const QImage &menu : menus) {
        painter.drawImage(QPoint(x, barImage.height() + kGap), menu);
        x += menu.width() + kGap;
    }
    return image;
}

// The app itself: its menus and a row's context menu in dark, About in both appearances.
bool renderApp(const QString &directory)
{
    QTemporaryDir config;
    const auto defaults = JsonSettingsFormat::open(config.filePath("defaults.json"));
    DesktopColorScheme desktop(QDBusConnection(QStringLiteral("vellora-no-bus")));
    VelloraApp::Options options;
    options.arguments = {QStringLiteral("-uitests")};
    options.defaults = defaults.get();
    options.loginItems = std::make_unique<FakeLoginItemService>();
    options.desktopScheme = &desktop;
    VelloraApp app(std::move(options));
    if (app.start() != VelloraApp::Start::running || !QTest::qWaitForWindowExposed(app.window().mainWindow()))
        return false;
    app.store().addItem(QStringLiteral("Book the dentist"), Block::medium);
    app.settings().setAppearance(Paper::Appearance::dark);
    QCoreApplication::processEvents();
    const QDir out(directory);
    bool ok = menusImage(*app.window().mainWindow()).save(out.filePath(QStringLiteral("menus-dark.png")));

    auto *sheet = qobject_cast<SheetView *>(app.window().contentView()->page());
    SlotRow *row = sheet ? sheet->row(QStringLiteral("slot.3.0")) : nullptr;
    if (!row)
        return false;
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, row->rect().center(), row->mapToGlobal(row->rect().center()));
    QCoreApplication::sendEvent(row, &menuEvent);
    QCoreApplication::processEvents();
    if (QWidget *popup = QApplication::activePopupWidget()) {
        ok = popup->grab().save(out.filePath(QStringLiteral("context-menu-dark.png"))) && ok;
        popup->close();
    } else {
        ok = false;
    }

    app.window().showAbout();
    for (Paper::Appearance appearance : {Paper::Appearance::dark, Paper::Appearance::light}) {
        app.settings().setAppearance(appearance);
        QCoreApplication::processEvents();
        const QString file = QStringLiteral("about-%1.png").arg(Paper::storedForm(appearance));
        ok = app.window().aboutBox() && Screenshots::save(*app.window().aboutBox(), out.filePath(file)) && ok;
    }
    return ok;
}

// The account's dialogs: signing in, the recovery key a new account shows once, and a link for another device.
bool renderAccountDialogs(const QString &directory)
{
    QTemporaryDir config;
    SignInDialog signIn(config.filePath(QStringLiteral("account.json")));
    signIn.show();
    RecoveryKeyDialog recovery(SyncKit::AccountKey::generate().recoveryText());
    recovery.show();
    DeviceLinkDialog link(std::nullopt);
    link.showLink(DeviceLink{DeviceLink::pageAddress(QStringLiteral("https://cloud.example.org"),
                                                     QStringLiteral("K7M2-QX4P-HN8R")),
                             QStringLiteral("K7M2-QX4P-HN8R"), QDateTime::currentDateTimeUtc().addSecs(600)});
    link.show();
    DeviceLinkDialog refused(std::nullopt);
    refused.showFailure(QStringLiteral("the server cannot be reached: Connection refused"));
    refused.show();
    const QDir out(directory);
    bool ok = Screenshots::save(signIn, out.filePath(QStringLiteral("sign-in.png")));
    ok = Screenshots::save(link, out.filePath(QStringLiteral("device-link.png"))) && ok;
    ok = Screenshots::save(refused, out.filePath(QStringLiteral("device-link-refused.png"))) && ok;
    return Screenshots::save(recovery, out.filePath(QStringLiteral("recovery-key.png"))) && ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString directory = Screenshots::folder(argc, argv);

    const QList<Shot> shots{
        {QStringLiteral("settings-light-m"), Paper::Appearance::light, Paper::TextSize::medium, false},
        {QStringLiteral("settings-dark-m"), Paper::Appearance::dark, Paper::TextSize::medium, false},
        {QStringLiteral("settings-light-l-note"), Paper::Appearance::light, Paper::TextSize::large, true},
        {QStringLiteral("settings-dark-s-note"), Paper::Appearance::dark, Paper::TextSize::small, true},
        {QStringLiteral("settings-light-m-both-off"), Paper::Appearance::light, Paper::TextSize::medium, false, true},
        {QStringLiteral("settings-dark-m-both-off"), Paper::Appearance::dark, Paper::TextSize::medium, false, true},
    };
    bool ok = true;
    for (const Shot &shot : shots)
        ok = render(directory, shot) && ok;
    ok = renderApp(directory) && ok;
    ok = renderAccountDialogs(directory) && ok;
    return ok ? 0 : 1;
}
