#include "Vellora/DayData/SheetText.h"

#include <algorithm>

namespace {

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x000A && u <= 0x000D) || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

} // namespace

QString blockHeading(Block block)
{
    switch (block) {
    case Block::big:
        return QStringLiteral("BIG");
    case Block::medium:
        return QStringLiteral("MEDIUM");
    case Block::small:
        return QStringLiteral("SMALL");
    }
    return {};
}

QString blockName(Block block)
{
    return blockHeading(block).toLower();
}

std::optional<Block> blockFromBlockName(const QString &name)
{
    for (Block block : kAllBlocks) {
        if (name == blockName(block))
            return block;
    }
    return std::nullopt;
}

QString blockPlaceholder(Block block)
{
    switch (block) {
    case Block::big:
        return QStringLiteral("Big\u2026");
    case Block::medium:
        return QStringLiteral("Medium\u2026");
    case Block::small:
        return QStringLiteral("Small\u2026");
    }
    return {};
}

QString slotId(Block block, int row)
{
    return QStringLiteral("slot.%1.%2").arg(storedForm(block)).arg(row);
}

std::optional<std::pair<Block, int>> parseSlotId(const QString &text)
{
    // "slot.3.1" or "3.1": a block's raw value (1, 3 or 5), a dot, one digit.
    const QStringView form = text.startsWith(u"slot.") ? QStringView(text).mid(5) : QStringView(text);
    if (form.size() != 3 || form[1] != u'.' || form[2] < u'0' || form[2] > u'9')
        return std::nullopt;
    const auto block = blockFromStoredForm(form.first(1).toString());
    if (!block)
        return std::nullopt;
    return std::pair{*block, form[2].unicode() - u'0'};
}

QString itemCountText(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(count);
}

QString overflowText(const QStringList &titles)
{
    if (titles.size() == 1)
        return QStringLiteral("\u201C%1\u201D did not fit on Today and waits at the top of the Backlog")
            .arg(titles.first());
    return QStringLiteral("%1 tasks did not fit on Today and wait at the top of the Backlog").arg(titles.size());
}

QString joinedLines(const QString &text)
{
    QString joined;
    joined.reserve(text.size());
    bool brokenOff = false;
    for (QChar c : text) {
        if (isLineBreak(c)) {
            brokenOff = !joined.isEmpty();
            continue;
        }
        if (brokenOff)
            joined.append(QLatin1Char(' '));
        brokenOff = false;
        joined.append(c == QLatin1Char('\t') ? QLatin1Char(' ') : c);
    }
    return joined;
}

bool containsLineBreak(const QString &text)
{
    return std::any_of(text.begin(), text.end(), isLineBreak);
}

QStringList titleLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineBreak(text[i]))
            continue;
        const QString line = joinedLines(text.mid(start, i - start)).trimmed();
        if (!line.isEmpty())
            lines.append(line);
        start = i + 1;
    }
    return lines;
}
