#pragma once

#include "Vellora/Paper/Shadow.h"

#include <QAbstractButton>
#include <QPointer>

// The ordinary button of the pages: a bold label in the accent colour, or cream on an accent-coloured rounded
// rectangle when primary. The whole rounded rectangle takes clicks, background or not; pressed, the button fades.
class PaperButtonStyle : public QAbstractButton
{
    Q_OBJECT

public:
    PaperButtonStyle(const QString &objectName, const QString &text, bool primary = false, QWidget *parent = nullptr);

    bool primary() const { return m_primary; }
    void setPrimary(bool primary);
    // A widget shown after the text (the Backlog count badge); clicks on it go to the button.
    void setAccessory(QWidget *accessory);
    QWidget *accessory() const { return m_accessory; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool hitButton(const QPoint &pos) const override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int labelWidth() const;
    void placeAccessory();

    bool m_primary = false;
    QPointer<QWidget> m_accessory;
    Paper::Shadow m_shadow;
};
