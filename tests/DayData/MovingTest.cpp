#include "StoreTestSupport.h"

#include <gtest/gtest.h>

namespace {

Block blockNamed(const QString &letter)
{
    return letter == "b" ? Block::big : letter == "m" ? Block::medium : Block::small;
}

// Runs "verb title [target] [block]" steps, separated by ';', and gives what the last one returned.
bool perform(StoreFixture &f, DayStore &store, const QString &steps)
{
    bool result = true;
    for (const QString &step : steps.split(';')) {
        const QStringList w = step.split(' ', Qt::SkipEmptyParts);
        if (w[0] == "move")
            result = store.moveItem(f.id(w[1]), blockNamed(w[2]));
        else if (w[0] == "place")
            store.placeItem(f.id(w[1]), f.id(w[2]), blockNamed(w[3]));
        else if (w[0] == "step")
            store.stepItem(f.id(w[1]), w[2].toInt());
        else if (w[0] == "bring")
            result = store.bringToToday(f.id(w[1]));
        else if (w[0] == "send")
            store.sendToBacklog(f.id(w[1]));
        else if (w[0] == "delete")
            store.deleteItem(f.id(w[1]));
    }
    return result;
}

} // namespace

// Blocks hold one big, three medium and five small items; rows follow each item's last change.
TEST(Moving, EdgesOfTheBlocksRowsAndBacklog)
{
    const char *fiveSmall = "s:s0 s:s1 s:s2 s:s3 s:s4 s:waiting";
    const struct
    {
        const char *given;
        const char *steps;
        bool result;
        const char *expected;
    } cases[] = {
        {"b:big s:small", "move small s", true, "big /  / small | "},
        {"b:big s:small", "move small b", false, "big /  / small | "},
        {"b:big s:small", "move small m", true, "big / small /  | "},
        {"b:big", "move nothing m", false, "big /  /  | "},
        // A swap exchanges blocks and rows; done stays with its item.
        {"b:big* m:m0 m:m1 m:m2", "place m2 big b", true, "m2 / m0,m1,big* /  | "},
        {"b:big m:m0", "place m0 m0 s; place m0 nothing m", true, "big / m0 /  | "},
        {"b:today b:waiting", "place waiting today b", true, "waiting,today /  /  | "},
        // Stepping walks the nine rows: onto an empty row of another block, past its own empty rows never.
        {"b:big m:m0", "step big -1", true, "big / m0 /  | "},
        {"b:big m:m0 m:m1 m:m2", "step m2 +1", true, "big / m0,m1 / m2 | "},
        {"b:big m:m0 m:m1", "step m1 +1", true, "big / m0,m1 /  | "},
        {"b:big m:m0 m:m1", "step m0 -1", true, "m0 / big,m1 /  | "},
        {"b:big m:m0 m:m1 s:s0", "step s0 -1", true, "big / m0,m1,s0 /  | "},
        {fiveSmall, "step s4 +1", true, " /  / s0,s1,s2,s3,s4 | s:waiting"},
        {fiveSmall, "step waiting -1", true, " /  / s0,s1,s2,s3,s4 | s:waiting"},
        // Bringing back needs a free row in the item's own block.
        {fiveSmall, "bring waiting", false, " /  / s0,s1,s2,s3,s4 | s:waiting"},
        {fiveSmall, "bring s0", false, " /  / s0,s1,s2,s3,s4 | s:waiting"},
        {fiveSmall, "delete s1; bring waiting", true, " /  / s0,s2,s3,s4,waiting | "},
        {"b:older m:done*", "send done; send nothing", true, "older /  /  | m:done"},
    };
    for (const auto &c : cases) {
        StoreFixture f;
        auto store = f.make(false);
        f.given(*store, c.given);
        EXPECT_EQ(perform(f, *store, c.steps), c.result) << c.given << ": " << c.steps;
        EXPECT_EQ(layout(*store), c.expected) << c.given << ": " << c.steps;
    }
}
