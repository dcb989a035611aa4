#pragma once

#include "GlobalShortcuts/RecorderField.h"

#include <QWidget>

class QPushButton;

namespace GlobalShortcuts {

// A name's recorder, the form a settings page places in a row: the field, and under it, for a name with an
// initial shortcut, a button that goes back to it while another shortcut (or none) is stored.
class Recorder : public QWidget
{
    Q_OBJECT

public:
    explicit Recorder(const Name &name, QWidget *parent = nullptr);

    RecorderField *field() const { return m_field; }
    // The "Reset to …" button; null for names without an initial shortcut.
    QPushButton *resetButton() const { return m_resetButton; }

private:
    void addResetButton(const Name &name);

    RecorderField *m_field = nullptr;
    QPushButton *m_resetButton = nullptr;
};

} // namespace GlobalShortcuts
