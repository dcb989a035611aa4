#include "Vellora/Shell/FirstFrame.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

// Watches every paint of the application for one in the window; a frame is painted widget by widget within one
// pass of the event loop, so the next pass sees it complete.
class FirstFrameWatcher : public QObject
{
public:
    FirstFrameWatcher(QWidget *window, std::function<void()> then)
        : QObject(window), m_window(window), m_then(std::move(then))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->window() == m_window) {
            qApp->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                m_then();
                deleteLater();
            });
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
    std::function<void()> m_then;
};

} // namespace

void afterFirstFrame(QWidget *window, std::function<void()> then)
{
    if (window && then)
        new FirstFrameWatcher(window, std::move(then));
}
