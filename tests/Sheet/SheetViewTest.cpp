#include "SheetFixture.h"

#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Sheet/CountBadge.h"
#include "Vellora/Sheet/NoteBar.h"

// The status line counts every item wherever it is, the badge only those in the Backlog; a block holding more
// than it takes during a sync shows its oldest items and only counts the rest, which go to the top of the Backlog
// with a note once the sync is over. An item of another day shows on Today. The date follows the clock, not the
// store's day.
TEST_F(SheetFixture, theHeaderCountsEveryItemAndShowsTheClocksDay)
{
    const auto status = [this] { return find<PaperLabel>("sheet.status")->text(); };
    EXPECT_EQ(status(), "0 items");
    EXPECT_FALSE(find<CountBadge>("sheet.backlogCount")->isVisible());
    putInBacklog("waiting", Block::big, 1);
    EXPECT_EQ(status(), "1 item");
    put("another day", Block::small, 3, false, "2020-01-01");
    for (int i = 1; i <= 4; ++i)
        put(QString("m%1").arg(i), Block::medium, 10 + i);
    EXPECT_EQ(status(), "6 items");
    EXPECT_EQ(find<CountBadge>("sheet.backlogCount")->text(), "1");
    EXPECT_EQ(titleIn("slot.3.0"), "m1");
    EXPECT_EQ(titleIn("slot.3.2"), "m3");
    const auto labels = window->findChildren<PaperLabel *>();
    EXPECT_TRUE(std::none_of(labels.begin(), labels.end(), [](PaperLabel *l) { return l->text() == "m4"; }));
    EXPECT_EQ(titleIn("slot.5.0"), "another day");
    store->settleOverflow();
    settle();
    EXPECT_EQ(find<CountBadge>("sheet.backlogCount")->text(), "2");
    EXPECT_EQ(store->backlogItems().first().title, "m4");
    EXPECT_EQ(window->notes()->note(), "“m4” did not fit on Today and waits at the top of the Backlog");

    EXPECT_EQ(find<PaperLabel>("sheet.date")->text(), "Saturday, December 5");
    sheet()->setClock([] { return QDateTime(QDate(2027, 1, 1), QTime(0, 5), Qt::UTC); });
    EXPECT_EQ(find<PaperLabel>("sheet.date")->text(), "Friday, January 1");
    EXPECT_EQ(store->day(), "2026-12-05");
}
