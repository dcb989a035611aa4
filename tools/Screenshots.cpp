// Renders the Today sheet and the Backlog in their typical states, in light and dark and at the three text sizes,
// into PNG files: `vellora_screenshots OUTPUT_DIR`.

#include "ScreenshotSupport.h"
#include "tests/Sheet/SheetTestSupport.h"

#include "Vellora/Paper/Paper.h"
#include "Vellora/Sheet/BacklogView.h"
#include "Vellora/Sheet/SheetView.h"
#include "tests/Sheet/SheetWindow.h"
#include "Vellora/Sheet/SlotRow.h"

#include <QApplication>
#include <QDir>

#include <QTest>

#include <cstdio>
#include <functional>

using namespace SheetTest;

namespace {

void fill(DayStore &store)
{
    const QString today = store.day();
    putItem(store, QStringLiteral("Finish the quarterly report"), Block::big, today, 1);
    putItem(store, QStringLiteral("Call the plumber about the kitchen sink"), Block::medium, today, 2, true);
    putItem(store,
            QStringLiteral("Write the long letter to grandmother about the summer trip, the garden and the new "
                           "kitten"),
            Block::medium, today, 3);
    putItem(store, QStringLiteral("Book the dentist"), Block::medium, today, 4);
    putItem(store, QStringLiteral("A fourth medium item from another device"), Block::medium, today, 5);
    putItem(store, QStringLiteral("Water the plants"), Block::small, today, 6, true);
    putItem(store, QStringLiteral("Buy milk"), Block::small, today, 7);
    putItem(store, QStringLiteral("Reply to Anna"), Block::small, today, 8);
    putItem(store, QStringLiteral("Old task waiting"), Block::big, kOpenDay, 9);
    putItem(store, QStringLiteral("Sort the photos"), Block::small, kOpenDay, 10);
}

void fillBacklog(DayStore &store)
{
    const QString today = store.day();
    putItem(store, QStringLiteral("Today's big thing"), Block::big, today, 1);
    putItem(store, QStringLiteral("Plan the holiday"), Block::big, kOpenDay, 2);
    putItem(store, QStringLiteral("Renew the passport"), Block::medium, kOpenDay, 3);
    putItem(store,
            QStringLiteral("Clean out the garage, sell the old bicycle, and give the boxes of books to the library "
                           "on the corner"),
            Block::small, kOpenDay, 4);
    putItem(store, QStringLiteral("Learn the bread recipe"), Block::big, kOpenDay, 5);
    putItem(store, QStringLiteral("Fix the squeaky door"), Block::small, kOpenDay, 6);
}

// Titles in scripts the handwriting lacks, one of them right-to-left.
void fillScripts(DayStore &store)
{
    const QString today = store.day();
    putItem(store, QStringLiteral("Finish the quarterly report"), Block::big, today, 1);
    putItem(store, QStringLiteral("احجز موعد طبيب الأسنان"), Block::medium, today, 2);
    putItem(store, QStringLiteral("预约牙医"), Block::medium, today, 3);
    putItem(store, QStringLiteral("Buy milk"), Block::small, today, 4);
}

struct Shot
{
    QString name;
    bool backlog;
    std::function<void(DayStore &)> setUp;
    std::function<void(SheetWindow &)> act; // drives the window into the state to show
};

QPoint rowPoint(SheetWindow &window, const QString &slot, int dx = 0)
{
    SlotRow *row = window.sheet()->row(slot);
    return centreIn(row, window.sheet()) + QPoint(dx, 0);
}

void swipe(SheetWindow &window)
{
    SheetView *sheet = window.sheet();
    const QPoint start = rowPoint(window, QStringLiteral("slot.5.1"));
    press(sheet, start);
    moveTo(sheet, start + QPoint(30, 0));
    moveTo(sheet, start + QPoint(90, 0));
}

void move(SheetWindow &window)
{
    SheetView *sheet = window.sheet();
    const QPoint start = rowPoint(window, QStringLiteral("slot.3.2"));
    const QPoint end = rowPoint(window, QStringLiteral("slot.5.0"), 30) + QPoint(0, 6);
    press(sheet, start);
    moveTo(sheet, start + QPoint(2, 12));
    moveTo(sheet, end);
}

// The keyboard's focus on a task row, moved there with the arrow key as a person would.
void focusRow(SheetWindow &window)
{
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window))
        std::printf("the window did not become active: the focus ring may be missing\n");
    window.sheet()->row(QStringLiteral("slot.3.0"))->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
}

bool render(const QString &directory, const Shot &shot, Paper::Appearance appearance, Paper::TextSize size)
{
    auto store = makeStore();
    if (shot.setUp)
        shot.setUp(*store);
    SheetWindow window(*store);
    window.sheet()->setClock(fixedNow);
    window.sheet()->setTextSize(size);
    window.backlog()->setTextSize(size);
    Paper::applyAppearance(&window, appearance);
    if (shot.backlog)
        window.showBacklog();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QCoreApplication::processEvents();
    if (shot.act)
        shot.act(window);
    QCoreApplication::processEvents();
    const QString file = QDir(directory).filePath(
        QStringLiteral("%1-%2-%3.png").arg(shot.name, Paper::storedForm(appearance), Paper::storedForm(size)));
    return Screenshots::save(window, file);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString directory = Screenshots::folder(argc, argv);

    const QList<Shot> shots{
        {QStringLiteral("today-empty"), false, {}, {}},
        {QStringLiteral("today-filled"), false, fill, {}},
        {QStringLiteral("today-swipe"), false, fill, swipe},
        {QStringLiteral("today-move"), false, fill, move},
        {QStringLiteral("today-focus"), false, fill, focusRow},
        {QStringLiteral("today-scripts"), false, fillScripts, {}},
        {QStringLiteral("backlog-greyed"), true, fillBacklog, {}},
        {QStringLiteral("backlog-empty"), true, {}, {}},
    };
    bool ok = true;
    for (const Shot &shot : shots) {
        for (Paper::Appearance appearance : {Paper::Appearance::light, Paper::Appearance::dark}) {
            for (Paper::TextSize size : Paper::kAllTextSizes)
                ok = render(directory, shot, appearance, size) && ok;
        }
    }
    return ok ? 0 : 1;
}
