#pragma once

#include "Vellora/Paper/Paper.h"
#include "Vellora/Paper/PaperButton.h"

// A borderless button without background: only its label, in one of the paper colours. Used for the small
// controls of rows (arrows, "×", "→").
class PaperPlainButton : public PaperButton
{
    Q_OBJECT

public:
    PaperPlainButton(const QString &objectName, const QString &text, const QFont &font, Paper::Role role,
                     QWidget *parent = nullptr);

    void setRole(Paper::Role role);
    void setOpacity(qreal opacity);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Paper::Role m_role;
    qreal m_opacity = 1;
};
