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
#include <QPushButton>

namespace {

using Page = Navigation::Page;

// Counts the Escape presses that reach a widget.
class EscapeSpy : public QObject
{
public:
    explicit EscapeSpy(QObject *watched) { watched->installEventFilter(this); }
    int presses = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        presses += event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape;
        return false;
    }
};

class ContentViewTest : public PageFixture
{
};

TEST_F(ContentViewTest, EachPageIsBuiltAtOnceWithTheSettingsOfTheMoment)
{
    open();
    // The buttons switch from inside their own clicks; the page they belong to goes away meanwhile.
    click("sheet.backlog");
    EXPECT_NE(qobject_cast<BacklogView *>(content->page()), nullptr);
    click("backlog.today");
    EXPECT_EQ(nav.page(), Page::today);
    click("sheet.settings");
    ASSERT_NE(qobject_cast<SettingsView *>(content->page()), nullptr);
    EXPECT_TRUE(content->page()->isVisible());
    click("settings.size.l");
    click("settings.close");
    ASSERT_NE(qobject_cast<SheetView *>(content->page()), nullptr);
    EXPECT_EQ(qobject_cast<SheetView *>(content->page())->textSize(), Paper::TextSize::large); // built anew
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->findChildren<PaperSheet *>().size(), 1); // the pages left behind are gone
}

// Escape, with any modifiers, shows Today and reaches no view; on Today the page is not built again.
TEST_F(ContentViewTest, EscapeShowsTodayAndReachesNoView)
{
    for (Page page : {Page::backlog, Page::settings, Page::today}) {
        for (Qt::KeyboardModifiers modifiers : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier)}) {
            open(page);
            QWidget *shown = content->page();
            QWidget *focused = page == Page::backlog    ? find<QWidget>("backlog.today")
                               : page == Page::settings ? find<QWidget>("settings.close")
                                                        : shown;
            focused->setFocus(Qt::TabFocusReason);
            EscapeSpy spy(focused);
            QTest::keyClick(focused, Qt::Key_Escape, modifiers);
            ShellTest::settle();
            EXPECT_EQ(nav.page(), Page::today) << int(page);
            EXPECT_EQ(spy.presses, 0) << int(page);
            EXPECT_TRUE(page != Page::today || content->page() == shown); // not built again
        }
    }
}

// A row being edited, a field or a dialog of another window, a menu and a window-modal question each take Escape
// for themselves.
TEST_F(ContentViewTest, WhatTakesEscapeItselfKeepsThePage)
{
    open(Page::today);
    SlotRow *row = qobject_cast<SheetView *>(content->page())->row("slot.3.0");
    row->beginEditing();
    ShellTest::settle();
    QTest::keyClicks(QApplication::focusWidget(), "Half typed");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ShellTest::settle();
    EXPECT_FALSE(row->isEditing());
    EXPECT_TRUE(store->itemsIn(Bucket::medium).isEmpty());

    nav.setPage(Page::backlog);
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
    nav.setPage(Page::backlog);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(nav.page(), Page::backlog);

    QMenu menu;
    menu.addAction("Something");
    QDialog question(window.get());
    const QList<std::pair<QWidget *, std::function<void()>>> popups{
        {&menu, [&] { menu.popup(window->mapToGlobal(QPoint(40, 40))); }}, {&question, [&] { question.open(); }}};
    for (const auto &[popup, show] : popups) {
        show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(popup));
        QTest::keyClick(popup, Qt::Key_Escape);
        ASSERT_TRUE(waitFor([&] { return !popup->isVisible(); }));
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

    ASSERT_TRUE(ShellTest::activate(window.get()));
    EXPECT_TRUE(content->isEscapeFilterInstalled());

    // A view that goes away takes its filter with it.
    window.reset();
    QDialog last;
    ASSERT_TRUE(ShellTest::activate(&last));
    QTest::keyClick(&last, Qt::Key_Escape);
    EXPECT_EQ(nav.page(), Page::backlog);
}

TEST_F(ContentViewTest, AutoFollowsTheDesktopLiveAndAForcedAppearanceDoesNot)
{
    const QPalette original = QGuiApplication::palette();
    open(Page::settings);
    for (const char *choice : {"settings.appearance.auto", "settings.appearance.light"}) {
        click(choice);
        QGuiApplication::setPalette(Paper::qtPalette(Paper::Scheme::dark)); // the desktop turns dark
        ShellTest::settle();
        const auto expected = QString(choice).endsWith("auto") ? Paper::Scheme::dark : Paper::Scheme::light;
        EXPECT_EQ(Paper::schemeOf(content->page()), expected) << choice;
        EXPECT_EQ(Paper::schemeOf(find<QWidget>("settings.preview")), expected) << choice;
        QGuiApplication::setPalette(original);
        ShellTest::settle();
    }
}

} // namespace
