#include "GlobalShortcuts/Recorder.h"

#include <QPushButton>
#include <QVBoxLayout>

namespace GlobalShortcuts {

Recorder::Recorder(const Name &name, QWidget *parent) : QWidget(parent), m_field(new RecorderField(name))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_field);
    setFocusProxy(m_field);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    addResetButton(name);
}

void Recorder::addResetButton(const Name &name)
{
    const std::optional<Shortcut> initial = name.initialShortcut();
    if (!initial)
        return;
    m_resetButton = new QPushButton(tr("Reset to %1").arg(nativeText(*initial)), this);
    m_resetButton->setObjectName(QStringLiteral("resetButton"));
    m_resetButton->setFlat(true);
    m_resetButton->setAutoDefault(true); // Return presses it when it has the focus, as Space does
    layout()->addWidget(m_resetButton);
    layout()->setAlignment(m_resetButton, Qt::AlignRight);
    // After the field in the focus chain: when the button hides after a reset, the focus moves on past the field
    // instead of landing in it and starting to record.
    setTabOrder(m_field, m_resetButton);
    const auto follow = [this, name] { m_resetButton->setVisible(m_field->shortcut() != name.initialShortcut()); };
    connect(m_resetButton, &QPushButton::clicked, this, [name] { storeShortcut(name.initialShortcut(), name); });
    connect(&notifier(), &Notifier::shortcutByNameDidChange, this, [follow, name](const Name &changed) {
        if (changed == name)
            follow();
    });
    follow();
}

} // namespace GlobalShortcuts
