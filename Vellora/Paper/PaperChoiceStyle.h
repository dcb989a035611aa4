#pragma once

#include "Vellora/Paper/PaperButton.h"

// One segment of a row of mutually exclusive choices: exactly 38 points high and as wide as it is offered, so that
// the choices of a row share it equally. Selected: cream on the accent colour; otherwise accent text in a thin
// rule-coloured border.
class PaperChoiceStyle : public PaperButton
{
    Q_OBJECT

public:
    PaperChoiceStyle(const QString &objectName, const QString &text, bool selected = false, QWidget *parent = nullptr);

    bool selected() const { return m_selected; }
    void setSelected(bool selected);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_selected = false;
};
