#include "SheetFixture.h"

#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperPlainButton.h"
#include "Vellora/Sheet/BacklogList.h"
#include "Vellora/Sheet/BacklogView.h"

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

    BacklogList *list() const { return window->backlog()->list(); }
    PaperPlainButton *button(const QString &itemId, const char *name) const
    {
        for (BacklogRow *row : list()->visibleRows()) {
            if (row->entry().item.id == itemId)
                return row->findChild<PaperPlainButton *>(name);
        }
        return nullptr;
    }
    bool greyed(const QString &itemId) const { return !button(itemId, "backlog.toToday")->isEnabled(); }
    QString status() const { return find<PaperLabel>("backlog.status")->text(); }
    bool noteShown() const { return find<PaperLabel>("backlog.full")->isVisible(); }
};

} // namespace

// Exactly the items whose block on Today is full are greyed, with a note; bringing back the last one that fits
// greys the rest of its block, and a row freed on Today takes the grey away again. The status counts only the
// Backlog, oldest first.
TEST_F(BacklogTest, itemsWhoseBlockIsFullAreGreyedAndTheOthersComeBack)
{
    EXPECT_TRUE(find<PaperLabel>("backlog.empty")->isVisible());
    put("today's big", Block::big, 1);
    put("m0", Block::medium, 2);
    put("m1", Block::medium, 2);
    const DayItem big = putInBacklog("big waits", Block::big, 3);
    const DayItem first = putInBacklog("first", Block::medium, 4);
    const DayItem second = putInBacklog("second", Block::medium, 5);
    const DayItem small = putInBacklog("small", Block::small, 6);
    EXPECT_FALSE(find<PaperLabel>("backlog.empty")->isVisible());
    EXPECT_EQ(status(), "4 items");
    EXPECT_EQ(list()->visibleRows().first()->entry().item.id, big.id);
    EXPECT_TRUE(greyed(big.id));
    EXPECT_FALSE(greyed(first.id) || greyed(second.id) || greyed(small.id));
    EXPECT_TRUE(noteShown());

    click(button(big.id, "backlog.toToday")); // disabled: nothing happens
    settle();
    EXPECT_TRUE(store->item(big.id)->isInBacklog());
    click(button(first.id, "backlog.toToday"));
    settle();
    EXPECT_EQ(store->item(first.id)->day, store->day());
    EXPECT_EQ(button(first.id, "backlog.toToday"), nullptr);
    EXPECT_TRUE(window->showsBacklog()) << "bringing back stays on the page";
    EXPECT_TRUE(greyed(second.id));

    store->deleteItem(store->itemsIn(Block::medium)[0].id);
    settle();
    EXPECT_FALSE(greyed(second.id));
    click(button(small.id, "backlog.delete"));
    settle();
    EXPECT_FALSE(store->item(small.id));
    EXPECT_EQ(status(), "2 items");
}
