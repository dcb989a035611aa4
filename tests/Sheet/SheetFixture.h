#pragma once

#include "SheetTestSupport.h"

#include "Vellora/Paper/Paper.h"
#include "Vellora/Sheet/SheetView.h"
#include "tests/Sheet/SheetWindow.h"
#include "Vellora/Sheet/SlotField.h"
#include "Vellora/Sheet/SlotRow.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace SheetTest;

// A window with the Today sheet on a fresh store in memory, shown, active, and tall enough for every row.
class SheetFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Paper::setAnimationsEnabled(false);
        store = makeStore();
        window = std::make_unique<SheetWindow>(*store);
        window->sheet()->setClock(fixedNow);
        window->resize(430, 1000);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        settle();
    }

    void TearDown() override
    {
        window.reset();
        store.reset();
    }

    SheetView *sheet() const { return window->sheet(); }
    SlotRow *row(const QString &slot) const { return sheet()->row(slot); }
    template<typename T> T *find(const QString &name) const { return window->findChild<T *>(name); }
    // Lets queued redraws run, as the event loop would between two user actions.
    static void settle() { QCoreApplication::processEvents(); }

    QPoint centreOf(const QString &slot) const { return centreIn(row(slot), sheet()); }
    // The id or the title of the item a row shows, or "" for an empty row.
    QString idIn(const QString &slot) const { return row(slot)->item() ? row(slot)->item()->id : QString(); }
    QString titleIn(const QString &slot) const { return row(slot)->item() ? row(slot)->item()->title : QString(); }

    DayItem put(const QString &title, Block block, int order, bool done = false, const QString &day = {})
    {
        DayItem item = putItem(*store, title, block, day.isEmpty() ? store->day() : day, order, done);
        settle();
        return item;
    }
    DayItem putInBacklog(const QString &title, Block block, int order)
    {
        return put(title, block, order, false, kOpenDay);
    }

    // Clicks a row and returns its field, open for typing.
    SlotField *open(const QString &slot)
    {
        click(sheet(), centreOf(slot));
        settle();
        return find<SlotField>(slot + ".field");
    }

    std::unique_ptr<DayStore> store;
    std::unique_ptr<SheetWindow> window;
};
