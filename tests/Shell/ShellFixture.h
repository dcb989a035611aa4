#pragma once

#include "Vellora/DayData/DayStore.h"
#include "Vellora/Paper/Paper.h"
#include "Vellora/Platform/DesktopColorScheme.h"
#include "Vellora/Platform/TaskbarEntry.h"
#include "Vellora/Platform/FakeLoginItemService.h"
#include "Vellora/Platform/JsonSettingsFormat.h"
#include "Vellora/Shell/AppSettings.h"
#include "Vellora/Shell/Updater.h"
#include "Vellora/Shell/VelloraApp.h"
#include "Vellora/Shell/WindowController.h"

#include "tests/WaitFor.h"

#include <QDBusConnection>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace ShellTest {

// A taskbar presence that remembers what it was told.
class RecordingTaskbarEntry : public TaskbarEntry
{
public:
    QList<bool> applied;
    QWindow *window = nullptr;
    void setShownInTaskbar(bool shown) override { applied.append(shown); }
    void setWindow(QWindow *w) override { window = w; }
};

// A desktop without a settings portal: the colour scheme follows the application palette.
inline std::unique_ptr<DesktopColorScheme> desktopWithoutPortal()
{
    return std::make_unique<DesktopColorScheme>(QDBusConnection(QStringLiteral("vellora-no-bus")));
}

// The app's own fakes and folders: the defaults in a file of its own, a login service and a taskbar presence in
// memory, a desktop without portal, an updater without feed, and every opened address kept.
class AppEnvironment
{
public:
    QTemporaryDir dir;
    QString defaultsPath = dir.filePath("config/app.vellora.Vellora/defaults.json");
    std::unique_ptr<QSettings> defaults;
    FakeLoginItemService *loginItems = nullptr; // owned by the app
    RecordingTaskbarEntry *dock = nullptr;      // owned by the app
    std::unique_ptr<DesktopColorScheme> desktop = desktopWithoutPortal();
    std::unique_ptr<Updater> updates;
    QList<QUrl> opened;
    bool browserStarts = true; // whether handing an address to the desktop starts a browser

    AppEnvironment() { qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8()); }

    void writeDefaults(const QByteArray &json)
    {
        QDir().mkpath(QFileInfo(defaultsPath).absolutePath());
        QFile file(defaultsPath);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(json);
    }
    QByteArray readDefaults() const
    {
        QFile file(defaultsPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QJsonObject defaultsFile() const
    {
        QFile file(defaultsPath);
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }

    VelloraApp::Options options(QStringList arguments, std::optional<QString> storePath = std::nullopt)
    {
        defaults = JsonSettingsFormat::open(defaultsPath);
        VelloraApp::Options options;
        options.arguments = std::move(arguments);
        options.storePath = std::move(storePath);
        options.defaults = defaults.get();
        auto login = std::make_unique<FakeLoginItemService>();
        loginItems = login.get();
        options.loginItems = std::move(login);
        auto taskbarEntry = std::make_unique<RecordingTaskbarEntry>();
        dock = taskbarEntry.get();
        options.taskbarEntry = std::move(taskbarEntry);
        options.desktopScheme = desktop.get();
        updates = std::make_unique<Updater>(Updater::Options{{}, "1.0"}, [](const UpdateCheckResult &) {});
        options.updater = updates.get();
        options.openUrl = [this](const QUrl &url) {
            opened.append(url);
            return browserStarts;
        };
        return options;
    }
};

// Lets queued work run, as the event loop would between two user actions.
inline void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Shows the window and makes it the active one, so that its keyboard shortcuts act.
inline bool activate(QWidget *window)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return false;
    window->activateWindow();
    window->raise();
    return QTest::qWaitForWindowActive(window);
}

} // namespace ShellTest
