#pragma once

#include <QString>

#include <array>
#include <optional>

// The three blocks of the Today sheet, in sheet order. The raw value is the block's number of rows.
enum class Block { big, medium, small };

inline constexpr std::array<Block, 3> kAllBlocks{Block::big, Block::medium, Block::small};

QString storedForm(Block block);
// Exactly "1", "3" or "5"; any other text names no block.
std::optional<Block> blockFromStoredForm(const QString &raw);

constexpr int capacity(Block block)
{
    switch (block) {
    case Block::big:
        return 1;
    case Block::medium:
        return 3;
    case Block::small:
        return 5;
    }
    return 0;
}

// Rows of the whole sheet: 1 + 3 + 5.
inline constexpr int kSheetRowCount = 9;
