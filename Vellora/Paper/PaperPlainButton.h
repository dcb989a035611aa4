#pragma once

#include "Vellora/Paper/Paper.h"

#include <QAbstractButton>

// A borderless button without background: only its label, in one of the paper colours. Used for the small
// controls of rows (arrows, "×", "→").
class PaperPlainButton : public QAbstractButton
{
    Q_OBJECT

public:
    PaperPlainButton(const QString &objectName, const QString &text, const QFont &font, Paper::Role role,
                     QWidget *parent = nullptr);

    void setRole(Paper::Role role);
    Paper::Role role() const { return m_role; }
    void setOpacity(qreal opacity);
    qreal opacity() const { return m_opacity; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    Paper::Role m_role;
    qreal m_opacity = 1;
};
