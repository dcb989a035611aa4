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
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace GlobalShortcuts;

namespace {

// Generous: the machine may be busy with other builds.
constexpr int kTimeoutMs = 20000;

const Shortcut kCtrlShiftD(Key::d, Qt::ControlModifier | Qt::ShiftModifier);
const Shortcut kF5(Key::f5, Qt::NoModifier);
const Shortcut kF9(Key::f9, Qt::NoModifier);
const Shortcut kCtrlAltK(Key::k, Qt::ControlModifier | Qt::AltModifier);

// The keyboard and mouse of the test, through the X server's test extension.
void xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    ASSERT_TRUE(process.waitForFinished(kTimeoutMs)) << "xdotool " << qPrintable(arguments.join(' '));
    ASSERT_EQ(process.exitCode(), 0) << qPrintable(QString::fromLocal8Bit(process.readAllStandardError()));
}

// A small application: a window with a menu bar and the recorder, shown and hidden by the global shortcut.
class HostWindow : public QMainWindow
{
public:
    explicit HostWindow(const Name &name)
    {
        QMenu *sheet = menuBar()->addMenu(QStringLiteral("Sheet"));
        newDay = sheet->addAction(QStringLiteral("New Day"));
        newDay->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+N")));
        auto *central = new QWidget;
        auto *layout = new QVBoxLayout(central);
        text = new QLineEdit;
        layout->addWidget(text);
        recorder = new Recorder(name);
        layout->addWidget(recorder);
        setCentralWidget(central);
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

    QLineEdit *text = nullptr;
    Recorder *recorder = nullptr;
    QAction *newDay = nullptr;
    int toggles = 0;
};

} // namespace

class HotKeyX11Test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        ASSERT_TRUE(m_dir.isValid());
        m_settings = JsonSettingsFormat::open(m_dir.filePath(QStringLiteral("defaults.json")));
        setStorage(m_settings.get());
        ASSERT_TRUE(hotKeysAvailable());
        m_host = std::make_unique<HostWindow>(m_name);
        addKeyUpAction(m_name, [this] { m_host->toggleWindow(); });
        addKeyDownAction(m_name, [this] { ++m_keyDowns; });
        // A marker key: once its action ran, every key sent before it has been handled.
        onKeyUp(kF9, [this] { ++m_markers; });
        ASSERT_TRUE(isRegistered(m_name));
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
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(m_host->winId())});
        ASSERT_EVENTUALLY(m_host->isActiveWindow());
    }

    void focusOtherClient()
    {
        m_other.takeFocus();
        ASSERT_EVENTUALLY(!m_host->isActiveWindow());
    }

    void click(QWidget *widget)
    {
        const QPoint center = widget->mapToGlobal(widget->rect().center());
        xdotool({QStringLiteral("mousemove"), QString::number(center.x()), QString::number(center.y()),
                 QStringLiteral("click"), QStringLiteral("1")});
    }

    // Sends the marker key and waits for it, so that everything typed before has been handled.
    void settle()
    {
        const int expected = m_markers + 1;
        xdotool({QStringLiteral("key"), QStringLiteral("F9")});
        ASSERT_EVENTUALLY(m_markers == expected);
    }

    void startRecordingByClick()
    {
        click(m_host->recorder->field());
        ASSERT_EVENTUALLY(m_host->recorder->field()->isRecording());
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

TEST_F(HotKeyX11Test, TheActionRunsOnReleaseAndOnceForAHeldKey)
{
    ASSERT_TRUE(backend());
    EXPECT_TRUE(backend()->hasDetectableAutoRepeat());
    focusOtherClient();
    xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+shift+d")});
    ASSERT_EVENTUALLY(m_keyDowns == 1);
    EXPECT_EQ(m_host->toggles, 0);
    // Held long enough for the keyboard to repeat the key.
    ASSERT_EVENTUALLY(backend()->ignoredRepeatCount() >= 3);
    EXPECT_EQ(m_host->toggles, 0);
    EXPECT_FALSE(m_host->isVisible());

    xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+shift+d")});
    ASSERT_EVENTUALLY(m_host->toggles == 1);
    settle();
    EXPECT_EQ(m_host->toggles, 1);
    EXPECT_EQ(m_keyDowns, 1);
    ASSERT_EVENTUALLY(m_host->isVisible());
}

TEST_F(HotKeyX11Test, RecordingF5MovesTheGlobalShortcut)
{
    showHostInFront();
    startRecordingByClick();
    xdotool({QStringLiteral("key"), QStringLiteral("F5")});
    ASSERT_EVENTUALLY(storedShortcut(m_name) == std::optional<Shortcut>(kF5));
    EXPECT_EQ(m_host->recorder->field()->text(), QStringLiteral("F5"));
    EXPECT_FALSE(m_host->recorder->field()->isRecording());
    EXPECT_EQ(m_host->toggles, 0);
    EXPECT_TRUE(isRegistered(m_name));

    focusOtherClient();
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+d")});
    settle();
    EXPECT_EQ(m_host->toggles, 0);
    xdotool({QStringLiteral("key"), QStringLiteral("F5")});
    ASSERT_EVENTUALLY(m_host->toggles == 1);
    ASSERT_EVENTUALLY(m_host->isActiveWindow());
}

TEST_F(HotKeyX11Test, ACombinationAnotherApplicationGrabbedIsASystemShortcut)
{
    ASSERT_TRUE(m_other.grab('k', XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
    QSignalSpy failures(&notifier(), &Notifier::registrationFailed);
    showHostInFront();
    startRecordingByClick();
    m_answers = {0, 1};
    // The recorder holds the keyboard while recording, so the grabbed combination reaches it.
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")});
    ASSERT_EVENTUALLY(m_alerts.size() == 1);
    EXPECT_EQ(m_alerts[0].message,
              QStringLiteral("This shortcut is already used by the desktop or another application."));
    EXPECT_EQ(m_alerts[0].buttons, (QStringList{QStringLiteral("OK"), QStringLiteral("Use Anyway")}));
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
    ASSERT_EVENTUALLY(m_host->recorder->field()->isRecording());

    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")});
    ASSERT_EVENTUALLY(storedShortcut(m_name) == std::optional<Shortcut>(kCtrlAltK));
    EXPECT_EQ(m_alerts.size(), 2);
    // Forced, but the desktop keeps it for the other application: the host hears about it.
    EXPECT_FALSE(isRegistered(m_name));
    EXPECT_FALSE(failures.isEmpty());
}

TEST_F(HotKeyX11Test, RecordingTheCurrentCombinationOnlyRecordsIt)
{
    showHostInFront();
    startRecordingByClick();
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+d")});
    ASSERT_EVENTUALLY(!m_host->recorder->field()->isRecording());
    EXPECT_EQ(m_host->toggles, 0);
    EXPECT_EQ(m_keyDowns, 0);
    EXPECT_TRUE(m_alerts.isEmpty());
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
    EXPECT_TRUE(isRegistered(m_name));

    // Recording is over: the same keys act again.
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+d")});
    ASSERT_EVENTUALLY(m_host->toggles == 1);
    EXPECT_FALSE(m_host->isVisible());
}

TEST_F(HotKeyX11Test, TheShortcutActsWhileAMenuIsOpen)
{
    showHostInFront();
    QAction *sheet = m_host->menuBar()->actions().constFirst();
    const QPoint title = m_host->menuBar()->mapToGlobal(m_host->menuBar()->actionGeometry(sheet).center());
    xdotool({QStringLiteral("mousemove"), QString::number(title.x()), QString::number(title.y()),
             QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_EVENTUALLY(sheet->menu()->isVisible());
    EXPECT_EQ(HotKeyCenter::shared().mode(), HotKeyCenter::Mode::menuOpen);

    // Released the way people do, the modifiers before the letter.
    xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+shift+d")});
    ASSERT_EVENTUALLY(m_keyDowns == 1);
    xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+shift")});
    xdotool({QStringLiteral("keyup"), QStringLiteral("d")});
    ASSERT_EVENTUALLY(m_host->toggles == 1);
    EXPECT_EQ(m_keyDowns, 1);
}
