#include "Vellora/DayData/Block.h"

QString storedForm(Block block)
{
    return QString::number(capacity(block));
}

std::optional<Block> blockFromStoredForm(const QString &raw)
{
    for (Block block : kAllBlocks) {
        if (raw == storedForm(block))
            return block;
    }
    return std::nullopt;
}
