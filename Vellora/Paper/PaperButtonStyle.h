#pragma once

#include "Vellora/Paper/PaperButton.h"
#include "Vellora/Paper/Shadow.h"

#include <QPointer>

// The ordinary button of the pages: a bold label in the accent colour, or cream on an accent-coloured rounded
// rectangle when primary. The whole rounded rectangle takes clicks, background or not; pressed, the button fades.
class PaperButtonStyle : public PaperButton
{
    Q_OBJECT

public:
    PaperButtonStyle(const QString &objectName, const QString &text, bool primary = false, QWidget *parent = nullptr);

    // A widget shown after the text (the Backlog count badge); clicks on it go to the button.
    void setAccessory(QWidget *accessory);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int labelWidth() const;
    void placeAccessory();

    bool m_primary = false;
    QPointer<QWidget> m_accessory;
    Paper::Shadow m_shadow;
};
