#include "Vellora/Sheet/BacklogView.h"

#include "Vellora/Sheet/StoreRefresh.h"

#include "Vellora/DayData/SheetText.h"
#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperAccessible.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/ScrollHint.h"
#include "Vellora/Sheet/BacklogList.h"

#include <QBoxLayout>

#include <array>

BacklogView::BacklogView(DayStore &store, Paper::TextSize size, QWidget *parent)
    : QWidget(parent), m_store(store), m_size(size)
{
    setObjectName(QStringLiteral("backlog"));
    setAccessibleName(tr("Backlog"));
    m_title = new PaperLabel(QString(), Paper::Role::ink, Paper::titleFont(), this);
    m_title->setText(QStringLiteral("Backlog"));
    PaperAccessible::setRole(m_title, QAccessible::Heading);
    m_status = new PaperLabel(QStringLiteral("backlog.status"), Paper::Role::muted,
                              Paper::systemFont(Paper::kStatusSize, QFont::DemiBold), this);
    m_list = new BacklogList(this);
    m_list->setObjectName(QStringLiteral("backlog.list"));
    new ScrollHint(m_list);
    m_list->setTextSize(size);
    m_todayButton = new PaperButtonStyle(QStringLiteral("backlog.today"), QStringLiteral("Today →"), false, this);
    m_todayButton->setAccessibleName(tr("Today"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(Paper::kPagePaddingH, Paper::kPagePaddingTop, Paper::kPagePaddingH,
                               Paper::kPagePaddingBottom);
    layout->setSpacing(0);
    auto *header = new QVBoxLayout;
    header->setSpacing(Paper::kTitleStackSpacing);
    header->addWidget(m_title);
    header->addWidget(m_status);
    layout->addLayout(header);
    layout->addSpacing(Paper::kHeaderGap);
    layout->addWidget(m_list, 1);
    layout->addSpacing(Paper::kFooterGap);
    auto *footer = new QHBoxLayout;
    footer->addStretch();
    footer->addWidget(m_todayButton, 0, Qt::AlignVCenter);
    layout->addLayout(footer);

    connect(m_todayButton, &QAbstractButton::clicked, this, &BacklogView::openTodayRequested);
    // Bringing back does not leave the page; the list is drawn again from the store.
    connect(m_list, &BacklogList::bringRequested, this,
            [this](const QString &id) { change(UndoHistory::Kind::bringBack, [&] { m_store.bringToToday(id); }); });
    connect(m_list, &BacklogList::deleteRequested, this,
            [this](const QString &id) { change(UndoHistory::Kind::remove, [&] { m_store.deleteItem(id); }); });
    m_refresh = new StoreRefresh(m_store, *this, [this] { refresh(); });
}

void BacklogView::setTextSize(Paper::TextSize size)
{
    if (size == m_size)
        return;
    m_size = size;
    m_list->setTextSize(size);
}

void BacklogView::refreshIfNeeded()
{
    m_refresh->refreshIfNeeded();
}

void BacklogView::change(UndoHistory::Kind kind, const std::function<void()> &operation)
{
    m_refresh->change(m_history, kind, operation);
}

void BacklogView::refresh()
{
    m_refresh->markDrawn();
    const QList<DayItem> items = m_store.backlogItems();
    std::array<bool, 3> room{};
    for (Block block : kAllBlocks)
        room[size_t(block)] = m_store.itemsIn(block).size() < capacity(block);

    std::vector<BacklogEntry> entries;
    entries.reserve(size_t(items.size()));
    bool anyGreyed = false;
    for (const DayItem &item : items) {
        const bool hasRoom = room[size_t(item.block)];
        anyGreyed = anyGreyed || !hasRoom;
        entries.push_back({item, hasRoom});
    }
    m_status->setText(itemCountText(items.size()));
    m_list->setEntries(std::move(entries), anyGreyed);
}

void BacklogView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_refresh->isDirty())
        refresh();
}
