#pragma once

#include "Vellora/DayData/Block.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// The words the sheet and the command line share, so that both name the blocks, rows and counts alike.

// A block's heading on the sheet: "BIG", "MEDIUM", "SMALL".
QString blockHeading(Block block);
// A block's name in commands and their output: "big", "medium", "small".
QString blockName(Block block);
std::optional<Block> blockFromBlockName(const QString &name);
// What an empty row of a block shows: "Big…" (ending in the single character "…").
QString blockPlaceholder(Block block);

// A row of Today as its slot id ("slot.3.1": the block's raw value, then the row counted from 0), and back; the
// short form "3.1" is read too.
QString slotId(Block block, int row);
std::optional<std::pair<Block, int>> parseSlotId(const QString &text);

// "1 item", "N items".
QString itemCountText(qsizetype count);

// What is said when tasks did not fit their blocks and went to the Backlog: the task's title when it is one.
QString overflowText(const QStringList &titles);

// A title is one line: typed, pasted or given line breaks become single spaces (the pieces between them, empty ones
// dropped), and a tab becomes a space like any other white space, on the sheet and in commands alike.
QString joinedLines(const QString &text);
bool containsLineBreak(const QString &text);
// The titles of several lines pasted at once: one per line, tabs as spaces, trimmed, empty lines dropped.
QStringList titleLines(const QString &text);
