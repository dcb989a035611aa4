#pragma once

#include "GlobalShortcuts/RecorderField.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace GlobalShortcuts {

// A recorder with an optional label in front, the form a settings page places in a row. It passes the conflict
// policy, the validation and the menus on to its field and forwards the field's changes. For a name with an
// initial shortcut it offers, under the field, to reset to it while another shortcut (or none) is stored.
class Recorder : public QWidget
{
    Q_OBJECT

public:
    explicit Recorder(const Name &name, QWidget *parent = nullptr);
    Recorder(const QString &label, const Name &name, QWidget *parent = nullptr);
    explicit Recorder(const std::optional<Shortcut> &binding, QWidget *parent = nullptr);

    RecorderField *field() const { return m_field; }
    // The "Reset to …" button; null in binding mode and for names without an initial shortcut.
    QPushButton *resetButton() const { return m_resetButton; }

    bool hasLabel() const { return !m_label.isEmpty(); }
    QString label() const { return m_label; }
    void setLabel(const QString &label);

    void setConflictPolicy(const ConflictPolicy &policy) { m_field->setConflictPolicy(policy); }
    void setValidateShortcut(RecorderField::Validator validator) { m_field->setValidateShortcut(std::move(validator)); }
    void setMenus(const QList<QWidget *> &menus) { m_field->setMenus(menus); }
    std::optional<Shortcut> shortcut() const { return m_field->shortcut(); }
    void setShortcut(const std::optional<Shortcut> &shortcut) { m_field->setShortcut(shortcut); }

signals:
    void shortcutChanged(const std::optional<GlobalShortcuts::Shortcut> &shortcut);

private:
    void setUp(RecorderField *field, const QString &label);
    void addResetButton(const Name &name);

    RecorderField *m_field = nullptr;
    QLabel *m_labelWidget = nullptr;
    QPushButton *m_resetButton = nullptr;
    QString m_label;
};

} // namespace GlobalShortcuts
