#include "ModuleFixture.h"
#include "tests/WaitFor.h"

#include "GlobalShortcuts/ActionShortcut.h"
#include "GlobalShortcuts/Recorder.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace GlobalShortcuts;

namespace {

const Shortcut kCtrlShiftD(Key::d, Qt::ControlModifier | Qt::ShiftModifier);
const Shortcut kF5(Key::f5, Qt::NoModifier);
const Shortcut kCtrlAltK(Key::k, Qt::ControlModifier | Qt::AltModifier);

} // namespace

// A window like the app's: a menu bar with in-app shortcuts, a field before and after the recorder.
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
        RecorderField::setBeeper([this] { ++m_beeps; });

        m_window = std::make_unique<QMainWindow>();
        QMenu *sheet = m_window->menuBar()->addMenu(QStringLiteral("Sheet"));
        sheet->addAction(QStringLiteral("Today"))->setShortcut(QKeySequence(QStringLiteral("Ctrl+1")));
        sheet->addSeparator();
        m_toggle = sheet->addAction(QStringLiteral("Show or Hide Window"));
        m_toggle->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+D")));
        QMenu *more = m_window->menuBar()->addMenu(QStringLiteral("&File"))->addMenu(QStringLiteral("More"));
        m_newDay = more->addAction(QStringLiteral("&New Day"));
        m_newDay->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+N")));

        auto *central = new QWidget;
        m_before = new QLineEdit(central);
        m_before->setGeometry(10, 10, 120, 24);
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
        RecorderField::setBeeper({});
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

    QWidget *clearButton() const
    {
        for (QObject *object : field()->clearAction()->associatedObjects()) {
            if (auto *button = qobject_cast<QToolButton *>(object))
                return button;
        }
        return nullptr;
    }

    const Name m_name{QStringLiteral("toggleWindow"), kCtrlShiftD};
    std::unique_ptr<QMainWindow> m_window;
    Recorder *m_recorder = nullptr;
    QLineEdit *m_before = nullptr;
    QLineEdit *m_after = nullptr;
    QAction *m_newDay = nullptr;
    QAction *m_toggle = nullptr;
    QList<Alert> m_alerts;
    QList<int> m_answers;
    int m_beeps = 0;
};

TEST_F(RecorderTest, ShowsTheShortcutThePlatformsWayAndClearsWithTheClearButton)
{
    EXPECT_EQ(field()->text(), QKeySequence(QStringLiteral("Ctrl+Shift+D")).toString(QKeySequence::NativeText));
    ASSERT_NE(clearButton(), nullptr);
    EXPECT_TRUE(clearButton()->isVisible());

    QSignalSpy changes(m_recorder, &Recorder::shortcutChanged);
    QTest::mouseClick(clearButton(), Qt::LeftButton);
    EXPECT_TRUE(field()->text().isEmpty());
    EXPECT_FALSE(clearButton()->isVisible());
    EXPECT_EQ(storedShortcut(m_name), std::nullopt);
    EXPECT_EQ(m_settings->value(m_name.storageKey()), QVariant(false));
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).value<std::optional<Shortcut>>(), std::nullopt);

    // Stored elsewhere: the field follows.
    storeShortcut(kF5, m_name);
    EXPECT_EQ(field()->text(), QStringLiteral("F5"));
}

TEST_F(RecorderTest, ClickingStartsRecordingAndEscapeEndsItWithoutChange)
{
    QSignalSpy active(&notifier(), &Notifier::recorderActiveStatusDidChange);
    startRecording();
    EXPECT_TRUE(field()->text().isEmpty());
    EXPECT_TRUE(isRecorderActive());
    EXPECT_EQ(RecorderField::currentRecorder(), field());

    press(Qt::Key_Escape);
    EXPECT_FALSE(field()->isRecording());
    EXPECT_FALSE(field()->hasFocus());
    EXPECT_EQ(field()->text(), kCtrlShiftD.nativeText());
    EXPECT_FALSE(isRecorderActive());
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
    ASSERT_EQ(active.count(), 2);
    EXPECT_TRUE(active.at(0).at(0).toBool());
    EXPECT_FALSE(active.at(1).at(0).toBool());
}

TEST_F(RecorderTest, ShiftWithALetterBeepsAndAnFKeyAloneIsRecorded)
{
    QSignalSpy changes(m_recorder, &Recorder::shortcutChanged);
    startRecording();
    press(Qt::Key_A, Qt::ShiftModifier);
    press(Qt::Key_A);
    EXPECT_EQ(m_beeps, 2);
    EXPECT_TRUE(field()->isRecording());
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);

    press(Qt::Key_F5);
    EXPECT_EQ(storedShortcut(m_name), kF5);
    EXPECT_EQ(field()->text(), QStringLiteral("F5"));
    EXPECT_FALSE(field()->isRecording());
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).value<std::optional<Shortcut>>(), kF5);
    EXPECT_TRUE(m_alerts.isEmpty());
}

TEST_F(RecorderTest, DeleteAndBackspaceClearTheShortcut)
{
    for (Qt::Key key : {Qt::Key_Delete, Qt::Key_Backspace}) {
        storeShortcut(kCtrlShiftD, m_name);
        startRecording();
        press(key);
        EXPECT_EQ(storedShortcut(m_name), std::nullopt);
        EXPECT_TRUE(field()->text().isEmpty());
        EXPECT_FALSE(field()->isRecording());
    }
}

TEST_F(RecorderTest, TabEndsRecordingAndMovesTheFocusOn)
{
    startRecording();
    press(Qt::Key_Tab);
    EXPECT_FALSE(field()->isRecording());
    EXPECT_TRUE(m_after->hasFocus());
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
}

TEST_F(RecorderTest, AShortcutOfAMenuItemIsRefusedAndRecordingResumes)
{
    QSignalSpy triggered(m_newDay, &QAction::triggered);
    startRecording();
    press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_TRUE(m_alerts[0].message.contains(QStringLiteral("“New Day”")));
    EXPECT_EQ(m_alerts[0].buttons.size(), 1);
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
    EXPECT_TRUE(field()->isRecording());
    EXPECT_EQ(triggered.count(), 0);

    // With another shortcut stored, the app's own Show or Hide Window combination is a menu item's too.
    press(Qt::Key_F5);
    startRecording();
    press(Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(m_alerts.size(), 2);
    EXPECT_TRUE(m_alerts[1].message.contains(QStringLiteral("“Show or Hide Window”")));
    EXPECT_EQ(storedShortcut(m_name), kF5);

    m_recorder->setConflictPolicy({ConflictBehavior::allow, ConflictBehavior::warn, ConflictBehavior::block});
    press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(storedShortcut(m_name), Shortcut(Key::n, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_EQ(m_alerts.size(), 2);
}

TEST_F(RecorderTest, ASystemShortcutOffersToUseItAnyway)
{
    // The current shortcut skips the menu check (it is the menu item's own), but not the desktop's.
    startRecording();
    press(Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(m_alerts.isEmpty());
    EXPECT_FALSE(field()->isRecording());

    m_backend->takeByAnotherApplication(kCtrlAltK);
    startRecording();
    m_answers = {0, 1};
    press(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].buttons.size(), 2); // OK, Use Anyway
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
    EXPECT_TRUE(field()->isRecording());

    press(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(m_alerts.size(), 2);
    EXPECT_EQ(storedShortcut(m_name), kCtrlAltK);
    EXPECT_FALSE(field()->isRecording());

    // F12 alone is never checked against the desktop.
    m_backend->takeByAnotherApplication(Shortcut(Key::f12, Qt::NoModifier));
    startRecording();
    press(Qt::Key_F12);
    EXPECT_EQ(storedShortcut(m_name), Shortcut(Key::f12, Qt::NoModifier));
    EXPECT_EQ(m_alerts.size(), 2);
}

TEST_F(RecorderTest, TheHostsValidationCanRefuse)
{
    m_recorder->setValidateShortcut([](const Shortcut &shortcut) {
        return shortcut.key() == Key::k ? ValidationResult::disallow(QStringLiteral("Not K, please."))
                                        : ValidationResult::allow();
    });
    startRecording();
    press(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].message, QStringLiteral("Not K, please."));
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
    EXPECT_TRUE(field()->isRecording());
    press(Qt::Key_J, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(storedShortcut(m_name), Shortcut(Key::j, Qt::ControlModifier | Qt::AltModifier));
}

TEST_F(RecorderTest, AClickJustOutsideKeepsRecordingAndOneFurtherOutEndsIt)
{
    QWidget *central = m_window->centralWidget();
    const QRect area(field()->mapTo(central, QPoint(0, 0)), field()->size());
    startRecording();
    QTest::mouseClick(central, Qt::LeftButton, {}, QPoint(area.left() - 2, area.center().y()));
    EXPECT_TRUE(field()->isRecording());
    QTest::mouseClick(central, Qt::LeftButton, {}, QPoint(area.left() - 4, area.center().y()));
    EXPECT_FALSE(field()->isRecording());
    EXPECT_FALSE(isRecorderActive());
}

TEST_F(RecorderTest, BringingTheWindowToTheFrontDoesNotStartRecording)
{
    QSignalSpy active(&notifier(), &Notifier::recorderActiveStatusDidChange);
    QWidget window;
    Recorder onlyControl(m_name, &window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_EVENTUALLY(!onlyControl.field()->hasFocus());
    EXPECT_FALSE(onlyControl.field()->isRecording());
    EXPECT_EQ(active.count(), 0);
    QTest::mouseClick(onlyControl.field(), Qt::LeftButton);
    EXPECT_TRUE(onlyControl.field()->isRecording());
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
    press(Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(m_alerts.isEmpty());
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
    EXPECT_EQ(m_toggle->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+D")));
    EXPECT_FALSE(reset->isVisible());

    QTest::mouseClick(clearButton(), Qt::LeftButton);
    EXPECT_TRUE(m_toggle->shortcut().isEmpty());
    ASSERT_TRUE(reset->isVisible());
    QSignalSpy changes(m_recorder, &Recorder::shortcutChanged);
    QTest::mouseClick(reset, Qt::LeftButton);
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
    EXPECT_EQ(field()->text(), kCtrlShiftD.nativeText());
    EXPECT_EQ(m_toggle->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+D")));
    EXPECT_FALSE(reset->isVisible());
    EXPECT_FALSE(field()->isRecording());
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(RecorderTest, BindingModeKeepsTheShortcutOutOfTheDefaults)
{
    Recorder binding(std::optional<Shortcut>{}, m_window->centralWidget());
    binding.move(200, 200);
    binding.show();
    QSignalSpy changes(&binding, &Recorder::shortcutChanged);
    QTest::mouseClick(binding.field(), Qt::LeftButton);
    QTest::keyClick(binding.field(), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(binding.shortcut(), kCtrlAltK);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(storedShortcut(m_name), kCtrlShiftD);
}

