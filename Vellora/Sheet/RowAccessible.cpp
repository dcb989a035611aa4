#include "Vellora/Sheet/RowAccessible.h"

#include "Vellora/Sheet/BacklogList.h"
#include "Vellora/Sheet/SlotRow.h"

namespace {

QAccessibleInterface *rowFactory(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("SlotRow") || className == QLatin1String("BacklogRow"))
        return new RowAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

RowAccessible::RowAccessible(QWidget *row) : QAccessibleWidget(row, QAccessible::ListItem) {}

QAccessible::State RowAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    if (const auto *slot = qobject_cast<const SlotRow *>(widget()); slot && slot->item()) {
        state.checkable = true;
        state.checked = slot->item()->done;
    }
    return state;
}

void RowAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(rowFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

QString RowAccessible::blockWord(Block block)
{
    static const QString kWords[] = {QStringLiteral("Big"), QStringLiteral("Medium"), QStringLiteral("Small")};
    return kWords[size_t(block)];
}

QString RowAccessible::slotPlace(Block block, int position)
{
    return QStringLiteral("%1 task %2 of %3").arg(blockWord(block)).arg(position).arg(capacity(block));
}

QString RowAccessible::slotName(Block block, int position, const std::optional<DayItem> &item)
{
    const QString place = slotPlace(block, position);
    if (!item)
        return QStringLiteral("%1: empty").arg(place);
    return QStringLiteral("%1: %2%3").arg(place, item->title, item->done ? QStringLiteral(", done") : QString());
}
