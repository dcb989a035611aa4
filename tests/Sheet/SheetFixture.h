#pragma once

#include "SheetTestSupport.h"

#include "Vellora/Paper/Paper.h"
#include "Vellora/Sheet/SheetView.h"
#include "Vellora/Sheet/SheetWindow.h"
#include "Vellora/Sheet/SlotRow.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

// A window with the Today sheet on a fresh store in memory, shown, active, and tall enough for every row.
class SheetFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Paper::setAnimationsEnabled(false);
        store = SheetTest::makeStore();
        window = std::make_unique<SheetWindow>(*store);
        window->sheet()->setClock(SheetTest::fixedNow);
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

    QPoint centreOf(const QString &slot) const { return SheetTest::centreIn(row(slot), sheet()); }
    // The id of the item a row shows, or "" for an empty row.
    QString idIn(const QString &slot) const
    {
        const auto &item = row(slot)->item();
        return item ? item->id : QString();
    }
    QString titleIn(const QString &slot) const
    {
        const auto &item = row(slot)->item();
        return item ? item->title : QString();
    }

    DayItem put(const QString &title, Bucket bucket, int order, bool done = false)
    {
        DayItem item = SheetTest::putItem(*store, title, bucket, store->day(), order, done);
        settle();
        return item;
    }
    DayItem putInBacklog(const QString &title, Bucket bucket, int order)
    {
        DayItem item = SheetTest::putItem(*store, title, bucket, kOpenDay, order);
        settle();
        return item;
    }

    std::unique_ptr<DayStore> store;
    std::unique_ptr<SheetWindow> window;
};
