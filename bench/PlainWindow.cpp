// The floor of a start-up on this machine: a Qt window with one label, ended right after its first frame is
// painted, the way VELLORA_QUIT_AFTER_FIRST_PAINT ends the app.
#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <cstdlib>

namespace {

class QuitAfterPaint : public QObject
{
protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            QTimer::singleShot(0, [] { std::_Exit(0); });
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Hello"));
    label.resize(430, 760);
    QuitAfterPaint quit;
    label.installEventFilter(&quit);
    label.show();
    return QApplication::exec();
}
