#include "PageFixture.h"

#include "Vellora/Paper/PaperSheet.h"
#include "Vellora/Sheet/BacklogView.h"
#include "Vellora/Sheet/SheetView.h"
#include "Vellora/Sheet/SlotRow.h"
#include "Vellora/Shell/SettingsView.h"

#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>

namespace {

using Page = Navigation::Page;

// Counts the presses of a key that a widget receives (the modifier keys pressed with it are not counted).
class KeySpy : public QObject
{
public:
    KeySpy(QObject *watched, int key) : m_key(key) { watched->installEventFilter(this); }
    int presses = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == m_key)
            ++presses;
        return false;
    }

private:
    int m_key;
};

class ContentViewTest : public PageFixture
{
};

TEST_F(ContentViewTest, EachPageIsBuiltAtOnceAndItsButtonsSwitchPages)
{
    open();
    EXPECT_NE(qobject_cast<SheetView *>(content->page()), nullptr);

    // The buttons switch from inside their own clicks; the page they belong to goes away meanwhile.
    click("sheet.backlog");
    EXPECT_EQ(nav.page(), Page::backlog);
    EXPECT_NE(qobject_cast<BacklogView *>(content->page()), nullptr);
    click("backlog.today");
    EXPECT_EQ(nav.page(), Page::today);
    click("sheet.settings");
    EXPECT_EQ(nav.page(), Page::settings);
    ASSERT_NE(qobject_cast<SettingsView *>(content->page()), nullptr);
    EXPECT_TRUE(content->page()->isVisible());
    click("settings.close");
    EXPECT_EQ(nav.page(), Page::today);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->findChildren<PaperSheet *>().size(), 1); // the pages left behind are gone
}

TEST_F(ContentViewTest, EscapeOnBacklogOrSettingsShowsTodayAndReachesNoView)
{
    for (Page page : {Page::backlog, Page::settings}) {
        for (Qt::KeyboardModifiers modifiers : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier),
                                                Qt::KeyboardModifiers(Qt::ControlModifier | Qt::AltModifier)}) {
            open(page);
            QWidget *focused = find<QWidget>(page == Page::backlog ? "backlog.today" : "settings.close");
            focused->setFocus(Qt::TabFocusReason);
            KeySpy spy(focused, Qt::Key_Escape);
            QTest::keyClick(focused, Qt::Key_Escape, modifiers);
            ShellTest::settle();
            EXPECT_EQ(nav.page(), Page::today);
            EXPECT_NE(qobject_cast<SheetView *>(content->page()), nullptr);
            EXPECT_EQ(spy.presses, 0);
        }
    }
}

TEST_F(ContentViewTest, EscapeOnTodayIsSwallowedAndNotifiesNobody)
{
    open(Page::today);
    QSignalSpy changes(&nav, &Navigation::pageChanged);
    QWidget *page = content->page();
    KeySpy spy(page, Qt::Key_Escape);
    KeySpy others(page, Qt::Key_A);
    QTest::keyClick(page, Qt::Key_Escape);
    EXPECT_EQ(spy.presses, 0);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(content->page(), page); // not built again

    // Every other key goes where it always went.
    QTest::keyClick(page, Qt::Key_A);
    EXPECT_EQ(others.presses, 1);
}

TEST_F(ContentViewTest, EscapeInATextFieldIsLeftToTheField)
{
    // A row being edited on Today cancels its edit with it.
    open(Page::today);
    auto *sheet = qobject_cast<SheetView *>(content->page());
    SlotRow *row = sheet->row("slot.3.0");
    row->beginEditing();
    ShellTest::settle();
    ASSERT_TRUE(row->isEditing());
    QWidget *field = QApplication::focusWidget();
    ASSERT_NE(field, nullptr);
    QTest::keyClicks(field, "Half typed");
    QTest::keyClick(field, Qt::Key_Escape);
    ShellTest::settle();
    EXPECT_FALSE(row->isEditing());
    EXPECT_TRUE(store->itemsIn(Bucket::medium).isEmpty());

    // A field on another page keeps the page.
    shortcutControl = [] { return new QLineEdit; };
    open(Page::settings);
    auto *edit = find<QLineEdit>("settings.shortcut");
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape, Qt::ShiftModifier);
    ShellTest::settle();
    EXPECT_EQ(nav.page(), Page::settings);
}

TEST_F(ContentViewTest, EscapeInAnotherWindowOfTheAppShowsTodayUnlessAFieldHasIt)
{
    open(Page::backlog);
    QDialog other;
    auto *button = new QPushButton("OK", &other);
    auto *edit = new QLineEdit(&other);
    edit->move(0, 40);
    ASSERT_TRUE(ShellTest::activate(&other));

    button->setFocus();
    QTest::keyClick(button, Qt::Key_Escape);
    ShellTest::settle();
    EXPECT_EQ(nav.page(), Page::today);
    EXPECT_TRUE(other.isVisible()); // the dialog never saw the key that would close it

    nav.setPage(Page::settings);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(nav.page(), Page::settings);
}

// A menu or a window-modal question (as the shortcut recorder asks) takes Escape for itself.
TEST_F(ContentViewTest, APopupOrAModalDialogClosesWithEscapeAndThePageStays)
{
    open(Page::backlog);
    QMenu menu;
    menu.addAction("Something");
    auto *box = new QMessageBox(QMessageBox::Question, "Vellora", "Use this shortcut anyway?",
                                QMessageBox::Ok | QMessageBox::Cancel, window.get());
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<QMessageBox> alive(box);
    const QList<std::pair<QWidget *, std::function<void()>>> popups{
        {&menu, [&] { menu.popup(window->mapToGlobal(QPoint(40, 40))); }}, {box, [&] { box->open(); }}};
    for (const auto &[popup, show] : popups) {
        show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(popup));
        QTest::keyClick(popup, Qt::Key_Escape);
        ASSERT_TRUE(waitFor([&] { return popup == &menu ? !menu.isVisible() : !alive || !alive->isVisible(); }));
        EXPECT_EQ(nav.page(), Page::backlog);
    }
}

TEST_F(ContentViewTest, TheFilterLivesExactlyWhileTheViewIsOnScreen)
{
    open(Page::backlog);
    EXPECT_TRUE(content->isEscapeFilterInstalled());
    // Put on screen a second time without being taken off: still one filter, gone with one removal.
    QShowEvent again;
    QCoreApplication::sendEvent(content, &again);
    window->hide();
    EXPECT_FALSE(content->isEscapeFilterInstalled());

    QDialog other;
    ASSERT_TRUE(ShellTest::activate(&other));
    QTest::keyClick(&other, Qt::Key_Escape);
    EXPECT_EQ(nav.page(), Page::backlog); // nothing left listening
    EXPECT_FALSE(other.isVisible());      // the dialog had the key

    ASSERT_TRUE(ShellTest::activate(window.get()));
    EXPECT_TRUE(content->isEscapeFilterInstalled());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(nav.page(), Page::today);

    // A view that goes away takes its filter with it.
    window.reset();
    QDialog last;
    ASSERT_TRUE(ShellTest::activate(&last));
    nav.setPage(Page::backlog);
    QTest::keyClick(&last, Qt::Key_Escape);
    EXPECT_EQ(nav.page(), Page::backlog);
}

TEST_F(ContentViewTest, AutoFollowsTheDesktopLiveAndAForcedAppearanceDoesNot)
{
    const QPalette original = QGuiApplication::palette();
    const auto darkDesktop = [] { QGuiApplication::setPalette(Paper::qtPalette(Paper::Scheme::dark)); };
    const auto restore = [&] { QGuiApplication::setPalette(original); };

    open(Page::settings);
    ASSERT_FALSE(desktop->isDark());
    EXPECT_EQ(Paper::schemeOf(content->page()), Paper::Scheme::light);
    darkDesktop();
    ShellTest::settle();
    EXPECT_EQ(Paper::schemeOf(window.get()), Paper::Scheme::dark);
    EXPECT_EQ(Paper::schemeOf(content->page()), Paper::Scheme::dark);
    restore();
    ShellTest::settle();
    EXPECT_EQ(Paper::schemeOf(content->page()), Paper::Scheme::light);

    // Chosen on the page: the whole window, this page included, at once.
    click("settings.appearance.dark");
    EXPECT_EQ(settings->appearance(), Paper::Appearance::dark);
    EXPECT_EQ(Paper::schemeOf(window.get()), Paper::Scheme::dark);
    EXPECT_EQ(Paper::schemeOf(find<QWidget>("settings.preview")), Paper::Scheme::dark);

    click("settings.appearance.light");
    darkDesktop();
    ShellTest::settle();
    EXPECT_EQ(Paper::schemeOf(content->page()), Paper::Scheme::light);
    restore();
}

TEST_F(ContentViewTest, AChangedTextSizeShowsOnTodayAfterEscape)
{
    open(Page::settings);
    click("settings.size.l");
    QTest::keyClick(window.get(), Qt::Key_Escape);
    ShellTest::settle();
    auto *sheet = qobject_cast<SheetView *>(content->page());
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->textSize(), Paper::TextSize::large);
}

} // namespace
