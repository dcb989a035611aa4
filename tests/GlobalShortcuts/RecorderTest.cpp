#include "ModuleFixture.h"
#include "tests/WaitFor.h"

#include "GlobalShortcuts/ActionShortcut.h"
#include "GlobalShortcuts/Recorder.h"

#include <QAction>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace GlobalShortcuts;

namespace {

const Shortcut kCtrlShiftD(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_D);
const Shortcut kF5(Qt::Key_F5);
const Shortcut kCtrlAltK(Qt::ControlModifier | Qt::AltModifier, Qt::Key_K);
const Shortcut kF12(Qt::Key_F12);
constexpr Qt::KeyboardModifiers kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;

} // namespace

// A window like the app's: a menu bar with in-app shortcuts, the recorder, and a field after it.
class RecorderTest : public ModuleFixture
{
protected:
    void SetUp() override
    {
        ModuleFixture::SetUp();
        RecorderField::setAlertPresenter([this](QWidget *, const Alert &alert) {
            m_alerts.append(alert);
            return m_answers.isEmpty() ? 0 : m_answers.takeFirst();
        });

        m_window = std::make_unique<QMainWindow>();
        QMenu *sheet = m_window->menuBar()->addMenu(QStringLiteral("Sheet"));
        m_toggle = sheet->addAction(QStringLiteral("Show or Hide Window"));
        m_toggle->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+D")));
        QMenu *more = m_window->menuBar()->addMenu(QStringLiteral("&File"))->addMenu(QStringLiteral("More"));
        more->addAction(QStringLiteral("&New Day"))->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+N")));
        more->addAction(QStringLiteral("&Help"))->setShortcut(QKeySequence(QStringLiteral("Ctrl+?")));

        auto *central = new QWidget;
        m_recorder = new Recorder(m_name, central);
        m_recorder->move(60, 60);
        m_after = new QLineEdit(central);
        m_after->setGeometry(10, 120, 120, 24);
        m_window->setCentralWidget(central);
        m_window->resize(400, 300);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    }

    void TearDown() override
    {
        m_window.reset();
        RecorderField::setAlertPresenter({});
        ModuleFixture::TearDown();
    }

    RecorderField *field() const { return m_recorder->field(); }

    void startRecording()
    {
        QTest::mouseClick(field(), Qt::LeftButton);
        ASSERT_TRUE(field()->isRecording());
    }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(field(), key, modifiers);
    }

    const Name m_name{QStringLiteral("toggleWindow"), kCtrlShiftD};
    std::unique_ptr<QMainWindow> m_window;
    Recorder *m_recorder = nullptr;
    QLineEdit *m_after = nullptr;
    QAction *m_toggle = nullptr;
    QList<Alert> m_alerts;
    QList<int> m_answers;
};

// What each key does while recording, starting from the initial shortcut.
TEST_F(RecorderTest, KeysWhileRecording)
{
    struct Case
    {
        const char *name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::optional<Shortcut> stored;
        bool recording;
        QString prompt;    // while still recording
        QString alertSays; // empty: no alert
    };
    const QString asking = QStringLiteral("Press a shortcut…");
    const Case cases[] = {
        {"Escape ends without change", Qt::Key_Escape, {}, kCtrlShiftD, false, {}, {}},
        {"Shift with a letter is refused in words",
         Qt::Key_A,
         Qt::ShiftModifier,
         kCtrlShiftD,
         true,
         "Add Ctrl, Alt or Super",
         {}},
        {"a modifier alone waits for the key", Qt::Key_Control, Qt::ControlModifier, kCtrlShiftD, true, asking, {}},
        {"an F key alone is recorded, unchecked", Qt::Key_F12, {}, kF12, false, {}, {}},
        {"a keypad key keeps the keypad",
         Qt::Key_1,
         Qt::MetaModifier | Qt::KeypadModifier,
         Shortcut(Qt::MetaModifier | Qt::KeypadModifier, Qt::Key_1),
         false,
         {},
         {}},
        {"a desktop's shortcut is refused", Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, kCtrlShiftD, true, asking,
         "already used by the desktop"},
        {"Delete clears", Qt::Key_Delete, {}, std::nullopt, false, {}, {}},
        {"Tab moves on", Qt::Key_Tab, {}, kCtrlShiftD, false, {}, {}},
        {"a menu item's shortcut is refused", Qt::Key_N, kCtrlShift, kCtrlShiftD, true, asking, "“New Day”"},
        {"a menu item's symbol typed with Shift is refused", Qt::Key_Question, kCtrlShift, kCtrlShiftD, true, asking,
         "“Help”"},
        {"the action's own menu combination is allowed", Qt::Key_D, kCtrlShift, kCtrlShiftD, false, {}, {}},
    };
    m_backend->takeByAnotherApplication(kCtrlAltK);
    m_backend->takeByAnotherApplication(kF12);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        storeShortcut(kCtrlShiftD, m_name);
        m_alerts.clear();
        startRecording();
        EXPECT_TRUE(isRecorderActive());
        QTest::keyPress(field(), c.key, c.modifiers);
        EXPECT_EQ(storedShortcut(m_name), c.stored);
        EXPECT_EQ(field()->isRecording(), c.recording);
        EXPECT_EQ(field()->text(), c.recording ? QString() : c.stored ? nativeText(*c.stored) : QString());
        if (c.recording) {
            EXPECT_EQ(field()->prompt(), c.prompt);
        }
        ASSERT_EQ(m_alerts.size(), c.alertSays.isEmpty() ? 0 : 1);
        if (!c.alertSays.isEmpty()) {
            EXPECT_TRUE(m_alerts[0].message.contains(c.alertSays)) << qPrintable(m_alerts[0].message);
        }
        if (c.key == Qt::Key_Tab) {
            EXPECT_TRUE(m_after->hasFocus());
        }
        if (c.recording)
            press(Qt::Key_Escape);
        EXPECT_FALSE(isRecorderActive());
    }
}

// Tab brings the focus without recording; Space or Return start it, as they press a button. A key without Ctrl,
// Alt or Super is refused in words while recording goes on.
TEST_F(RecorderTest, TheKeyboardStartsRecordingOnlyWhenAsked)
{
    storeShortcut(kCtrlShiftD, m_name);
    for (const Qt::Key start : {Qt::Key_Space, Qt::Key_Return}) {
        SCOPED_TRACE(start);
        m_after->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(m_after, Qt::Key_Backtab, Qt::ShiftModifier);
        ASSERT_TRUE(field()->hasFocus());
        EXPECT_FALSE(field()->isRecording());
        press(start);
        ASSERT_TRUE(field()->isRecording());
        EXPECT_EQ(field()->prompt(), QStringLiteral("Press a shortcut…"));
        press(Qt::Key_A);
        EXPECT_TRUE(field()->isRecording());
        EXPECT_EQ(field()->prompt(), QStringLiteral("Add Ctrl, Alt or Super"));
        press(Qt::Key_Escape);
        EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
    }
}

// A desktop's shortcut can be used anyway; with another shortcut stored, the own menu item's combination is a menu
// item's like any other.
TEST_F(RecorderTest, ADesktopsShortcutCanBeUsedAnyway)
{
    m_backend->takeByAnotherApplication(kCtrlAltK);
    startRecording();
    m_answers = {1}; // Use Anyway
    press(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].buttons, (QStringList{"OK", "Use Anyway"}));
    EXPECT_EQ(storedShortcut(m_name), kCtrlAltK);

    startRecording();
    press(Qt::Key_D, kCtrlShift);
    ASSERT_EQ(m_alerts.size(), 2);
    EXPECT_TRUE(m_alerts[1].message.contains(QStringLiteral("“Show or Hide Window”")));
    EXPECT_EQ(m_alerts[1].buttons, QStringList{"OK"});
    EXPECT_TRUE(field()->isRecording()) << "recording goes on after the alert";
    EXPECT_EQ(storedShortcut(m_name), kCtrlAltK);
}

TEST_F(RecorderTest, AnotherWindowComingToTheFrontEndsRecordingForGood)
{
    startRecording();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    ASSERT_EVENTUALLY(!field()->isRecording());
    EXPECT_FALSE(isRecorderActive());

    // Back in front, the window does not pick up recording where it stopped.
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    ASSERT_EVENTUALLY(!field()->hasFocus());
    EXPECT_FALSE(field()->isRecording());
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
}

TEST_F(RecorderTest, TheOwnMenuItemFollowsTheRecordedShortcutAndTheDefaultCanComeBack)
{
    followShortcut(m_toggle, m_name);
    QPushButton *reset = m_recorder->resetButton();
    ASSERT_NE(reset, nullptr);
    EXPECT_FALSE(reset->isVisible());

    startRecording();
    press(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(m_toggle->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+K")));
    EXPECT_TRUE(reset->isVisible());

    // The item's former combination is the same action's: it can be recorded again.
    startRecording();
    press(Qt::Key_D, kCtrlShift);
    EXPECT_TRUE(m_alerts.isEmpty());
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
    EXPECT_FALSE(reset->isVisible());

    field()->clearAction()->trigger();
    EXPECT_EQ(m_settings->value(m_name.storageKey()), QVariant(false));
    EXPECT_TRUE(field()->text().isEmpty());
    EXPECT_TRUE(m_toggle->shortcut().isEmpty());
    ASSERT_TRUE(reset->isVisible());
    QTest::mouseClick(reset, Qt::LeftButton);
    EXPECT_EQ(field()->text(), nativeText(kCtrlShiftD));
    EXPECT_EQ(m_toggle->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+D")));
    EXPECT_FALSE(reset->isVisible());

    // Stored elsewhere: the field and the item follow.
    storeShortcut(kF5, m_name);
    EXPECT_EQ(field()->text(), QStringLiteral("F5"));
    EXPECT_EQ(m_toggle->shortcut(), QKeySequence(QStringLiteral("F5")));
}
