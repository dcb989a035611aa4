#include "XClient.h"

#include "Vellora/Platform/JsonSettingsFormat.h"

#include "tests/WaitFor.h"

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/HotKey.h"
#include "GlobalShortcuts/Recorder.h"
#include "GlobalShortcuts/X11HotKeyBackend.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace GlobalShortcuts;

namespace {

// Generous: the machine may be busy with other builds.
constexpr int kTimeoutMs = 20000;

const Shortcut kCtrlShiftD(Key::d, Qt::ControlModifier | Qt::ShiftModifier);
const Shortcut kF9(Key::f9, Qt::NoModifier);
const Shortcut kCtrlAltK(Key::k, Qt::ControlModifier | Qt::AltModifier);

// A small application: a window with a menu and the recorder, shown and hidden by the global shortcut.
class HostWindow : public QMainWindow
{
public:
    explicit HostWindow(const Name &name)
    {
        menuBar()->addMenu(QStringLiteral("Sheet"))->addAction(QStringLiteral("New Day"));
        recorder = new Recorder(name);
        setCentralWidget(recorder);
        setGeometry(100, 100, 360, 200);
    }

    // Hides the window when it is visible and in front, brings it forward otherwise.
    void toggleWindow()
    {
        ++toggles;
        if (isVisible() && isActiveWindow()) {
            hide();
            return;
        }
        show();
        raise();
        activateWindow();
    }

    Recorder *recorder = nullptr;
    int toggles = 0;
};

} // namespace

class HotKeyX11Test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_settings = JsonSettingsFormat::open(m_dir.filePath(QStringLiteral("defaults.json")));
        setStorage(m_settings.get());
        ASSERT_TRUE(hotKeysAvailable());
        m_host = std::make_unique<HostWindow>(m_name);
        addKeyUpAction(m_name, [this] { m_host->toggleWindow(); });
        addKeyDownAction(m_name, [this] { ++m_keyDowns; });
        // A marker key: once its action ran, every key sent before it has been handled.
        onKeyUp(kF9, [this] { ++m_markers; });
        RecorderField::setAlertPresenter([this](QWidget *, const Alert &alert) {
            m_alerts.append(alert);
            return m_answers.isEmpty() ? 0 : m_answers.takeFirst();
        });
    }

    void TearDown() override
    {
        RecorderField::setAlertPresenter({});
        removeAllActions();
        m_host.reset();
        setStorage(nullptr);
    }

    // The user brings the window to the front (what a window manager does on a click; the test's X server has none).
    void showHostInFront()
    {
        m_host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_host.get(), kTimeoutMs));
        ASSERT_TRUE(xdotool({"windowfocus", "--sync", QString::number(m_host->winId())}));
        ASSERT_EVENTUALLY(m_host->isActiveWindow());
    }

    // Sends the marker key and waits for it, so that everything typed before has been handled.
    void settle()
    {
        const int expected = m_markers + 1;
        ASSERT_TRUE(xdotool({"key", "F9"}));
        ASSERT_EVENTUALLY(m_markers == expected);
    }

    void startRecordingByClick()
    {
        RecorderField *field = m_host->recorder->field();
        ASSERT_TRUE(clickAt(field->mapToGlobal(field->rect().center())));
        ASSERT_EVENTUALLY(field->isRecording());
    }

    X11HotKeyBackend *backend() { return dynamic_cast<X11HotKeyBackend *>(&HotKeyCenter::shared().backend()); }

    const Name m_name{QStringLiteral("toggleWindow"), kCtrlShiftD};
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<HostWindow> m_host;
    XClient m_other;
    int m_keyDowns = 0;
    int m_markers = 0;
    QList<Alert> m_alerts;
    QList<int> m_answers;
};

// Once for a held key, on its release, also while a menu of the app is open and when the modifiers are let go
// before the letter.
TEST_F(HotKeyX11Test, TheActionRunsOnReleaseAndOnceForAHeldKey)
{
    ASSERT_TRUE(backend());
    EXPECT_TRUE(backend()->hasDetectableAutoRepeat());
    m_other.takeFocus();
    ASSERT_TRUE(xdotool({"keydown", "ctrl+shift+d"}));
    ASSERT_EVENTUALLY(m_keyDowns == 1);
    // Held long enough for the keyboard to repeat the key.
    ASSERT_EVENTUALLY(backend()->ignoredRepeatCount() >= 3);
    EXPECT_EQ(m_host->toggles, 0);
    ASSERT_TRUE(xdotool({"keyup", "ctrl+shift+d"}));
    ASSERT_EVENTUALLY(m_host->toggles == 1);
    settle();
    EXPECT_EQ(m_host->toggles, 1);
    EXPECT_EQ(m_keyDowns, 1);
    ASSERT_EVENTUALLY(m_host->isActiveWindow());

    QAction *sheet = m_host->menuBar()->actions().constFirst();
    ASSERT_TRUE(clickAt(m_host->menuBar()->mapToGlobal(m_host->menuBar()->actionGeometry(sheet).center())));
    ASSERT_EVENTUALLY(sheet->menu()->isVisible());
    EXPECT_EQ(HotKeyCenter::shared().mode(), HotKeyCenter::Mode::menuOpen);
    ASSERT_TRUE(xdotool({"keydown", "ctrl+shift+d"}));
    ASSERT_EVENTUALLY(m_keyDowns == 2);
    ASSERT_TRUE(xdotool({"keyup", "ctrl+shift"}));
    ASSERT_TRUE(xdotool({"keyup", "d"}));
    ASSERT_EVENTUALLY(m_host->toggles == 2);
}

TEST_F(HotKeyX11Test, ACombinationAnotherApplicationGrabbedIsASystemShortcut)
{
    ASSERT_TRUE(m_other.grab('k', XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
    QSignalSpy failures(&notifier(), &Notifier::registrationFailed);
    showHostInFront();
    startRecordingByClick();
    m_answers = {0, 1};
    // The recorder holds the keyboard while recording, so the grabbed combination reaches it.
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+k"}));
    ASSERT_EVENTUALLY(m_alerts.size() == 1);
    EXPECT_EQ(m_alerts[0].buttons, (QStringList{QStringLiteral("OK"), QStringLiteral("Use Anyway")}));
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
    ASSERT_EVENTUALLY(m_host->recorder->field()->isRecording());

    ASSERT_TRUE(xdotool({"key", "ctrl+alt+k"}));
    ASSERT_EVENTUALLY(storedShortcut(m_name) == std::optional<Shortcut>(kCtrlAltK));
    // Forced, but the desktop keeps it for the other application: the host hears about it.
    EXPECT_FALSE(isRegistered(m_name));
    EXPECT_FALSE(failures.isEmpty());
}
