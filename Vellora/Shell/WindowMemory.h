#pragma once

#include <QObject>
#include <QTimer>

class QSettings;
class QWidget;

// Keeps a window's size and place: across hiding and showing, and across restarts through the settings file. A
// place on a screen that is gone is brought back onto one that exists.
class WindowMemory : public QObject
{
    Q_OBJECT

public:
    // Restores what the settings hold (the window keeps its own size when they hold nothing), then follows the
    // window's moves and resizes.
    WindowMemory(QWidget *window, QSettings *settings);

    // Writes the window's geometry now; also done a moment after each move or resize, and when it is hidden.
    void save();

    // The size a window opens at when nothing is remembered: as tall as its content asks, but never taller than the
    // screen's free area leaves once the window manager's frame is drawn around it.
    static QSize defaultSize(const QWidget &window, const QRect &available);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    QSettings *m_settings;
    QTimer m_pending;
    QByteArray m_geometry; // as it was when last seen on screen
};
