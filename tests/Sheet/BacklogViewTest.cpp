#include "SheetFixture.h"

#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperPlainButton.h"
#include "Vellora/Sheet/BacklogList.h"
#include "Vellora/Sheet/BacklogView.h"

#include <QFontMetricsF>
#include <QScrollBar>

using namespace SheetTest;

namespace {

class BacklogTest : public SheetFixture
{
protected:
    void SetUp() override
    {
        SheetFixture::SetUp();
        window->showBacklog();
        settle();
    }

    BacklogView *backlog() const { return window->backlog(); }

    BacklogRow *rowOf(const QString &itemId) const
    {
        for (BacklogRow *row : backlog()->list()->visibleRows()) {
            if (row->entry().item.id == itemId)
                return row;
        }
        return nullptr;
    }
    PaperPlainButton *bringButton(const QString &itemId) const
    {
        BacklogRow *row = rowOf(itemId);
        return row ? row->findChild<PaperPlainButton *>("backlog.toToday") : nullptr;
    }
    PaperPlainButton *deleteButton(const QString &itemId) const
    {
        BacklogRow *row = rowOf(itemId);
        return row ? row->findChild<PaperPlainButton *>("backlog.delete") : nullptr;
    }
    bool greyed(const QString &itemId) const { return !bringButton(itemId)->isEnabled(); }
    QString status() const { return find<PaperLabel>("backlog.status")->text(); }
    bool noteShown() const { return find<PaperLabel>("backlog.full")->isVisible(); }
};

} // namespace

TEST_F(BacklogTest, theStatusCountsOnlyTheBacklogAndAnEmptyOneSaysSo)
{
    EXPECT_EQ(status(), "0 items");
    EXPECT_TRUE(find<PaperLabel>("backlog.empty")->isVisible());
    EXPECT_FALSE(noteShown());
    put("on today", Bucket::small, 1);
    putInBacklog("waiting", Bucket::small, 2);
    EXPECT_EQ(status(), "1 item");
    EXPECT_FALSE(find<PaperLabel>("backlog.empty")->isVisible());
}

TEST_F(BacklogTest, exactlyTheItemsWhoseBlockIsFullAreGreyedAndTheOthersComeBack)
{
    put("today's big", Bucket::big, 1);
    const DayItem big = putInBacklog("big waits", Bucket::big, 2);
    const DayItem medium = putInBacklog("medium", Bucket::medium, 3);
    const DayItem small = putInBacklog("small", Bucket::small, 4);

    EXPECT_TRUE(greyed(big.id));
    EXPECT_FALSE(greyed(medium.id));
    EXPECT_FALSE(greyed(small.id));
    EXPECT_TRUE(noteShown());

    click(bringButton(big.id)); // disabled: nothing happens
    settle();
    EXPECT_TRUE(store->item(big.id)->isInBacklog());

    click(bringButton(medium.id));
    settle();
    EXPECT_EQ(store->item(medium.id)->day, store->day());
    EXPECT_FALSE(rowOf(medium.id));
    EXPECT_EQ(status(), "2 items");
    EXPECT_TRUE(window->showsBacklog()) << "bringing back stays on the page";
}

TEST_F(BacklogTest, bringingBackTheLastItemThatFitsGreysTheRestOfItsBucket)
{
    put("m0", Bucket::medium, 1);
    put("m1", Bucket::medium, 2);
    const DayItem first = putInBacklog("first", Bucket::medium, 3);
    const DayItem second = putInBacklog("second", Bucket::medium, 4);
    EXPECT_FALSE(greyed(first.id));
    EXPECT_FALSE(greyed(second.id));
    EXPECT_FALSE(noteShown());

    click(bringButton(first.id));
    settle();
    EXPECT_TRUE(greyed(second.id));
    EXPECT_TRUE(noteShown());

    // A row freed on Today takes the grey away again.
    store->deleteItem(store->itemsIn(Bucket::medium)[0].id);
    settle();
    EXPECT_FALSE(greyed(second.id));
    EXPECT_FALSE(noteShown());
}

TEST_F(BacklogTest, deletingRemovesTheItemAtOnce)
{
    const DayItem item = putInBacklog("gone soon", Bucket::small, 1);
    putInBacklog("stays", Bucket::small, 2);
    click(deleteButton(item.id));
    settle();
    EXPECT_FALSE(store->item(item.id));
    EXPECT_FALSE(rowOf(item.id));
    EXPECT_EQ(status(), "1 item");
}

TEST_F(BacklogTest, itemsAreListedOldestFirstAndNeverStruckOut)
{
    putInBacklog("second", Bucket::big, 2);
    putInBacklog("first", Bucket::small, 1);
    SheetTest::putItem(*store, "done but waiting", Bucket::medium, kOpenDay, 3, true);
    settle();
    const auto rows = backlog()->list()->visibleRows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0]->entry().item.title, "first");
    EXPECT_EQ(rows[1]->entry().item.title, "second");
    EXPECT_FALSE(rows[2]->findChild<PaperLabel *>("backlog.itemTitle")->isStruckOut());
    EXPECT_LT(rows[0]->y(), rows[1]->y());
}

TEST_F(BacklogTest, rowsInViewAreAsHighAsTheirTitlesReallyNeed)
{
    // Titles of every length around one line's width: the quick estimate cannot be sure of all of them.
    for (int i = 0; i < 80; ++i)
        SheetTest::putItem(*store, QString("AVATAR ") + QString("AV").repeated(i / 2) + QString(i % 2, QChar('e')),
                           Bucket::big, kOpenDay, i);
    settle();
    BacklogList *list = backlog()->list();
    const QFont font = Paper::itemFont(Bucket::big, Paper::TextSize::medium);
    const int oneLine = Paper::rowHeight(Bucket::medium, Paper::TextSize::medium);
    const int twoLines = int(std::ceil(2 * PaperLabel::lineHeight(font)));
    for (int step = 0; step < 12; ++step) {
        for (BacklogRow *row : list->visibleRows()) {
            const bool fits =
                QFontMetricsF(font).horizontalAdvance(row->entry().item.title) <= BacklogRow::titleWidth(row->width());
            EXPECT_EQ(row->height(), fits ? oneLine : twoLines) << qPrintable(row->entry().item.title);
        }
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->value() + 200);
        settle();
    }
}

TEST_F(BacklogTest, aLongBacklogMakesRowsOnlyForWhatIsInView)
{
    for (int i = 0; i < 2000; ++i)
        SheetTest::putItem(*store, QString("item %1").arg(i), Bucket::small, kOpenDay, i);
    settle();
    EXPECT_EQ(status(), "2000 items");
    const int made = backlog()->findChildren<BacklogRow *>().size();
    EXPECT_LT(made, 30);

    QScrollBar *bar = backlog()->list()->verticalScrollBar();
    bar->setValue(bar->maximum());
    settle();
    const auto rows = backlog()->list()->visibleRows();
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows.last()->entry().item.title, "item 1999");
    EXPECT_EQ(backlog()->findChildren<BacklogRow *>().size(), made) << "rows are reused as the list scrolls";

    click(deleteButton(rows.last()->entry().item.id));
    settle();
    EXPECT_EQ(status(), "1999 items");
}

