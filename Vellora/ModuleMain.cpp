#include "Vellora/ModuleEntry.h"
#include "Vellora/Paper/PaperStyle.h"
#include "Vellora/Shell/VelloraApp.h"
#include "Vellora/Shell/WindowController.h"
#include "cli/CommandLine.h"
#include "cli/SyncCommands.h"

#ifdef VELLORA_STARTUP_PROBE
#include "bench/StartupProbe.h"
#endif

#include <QApplication>
#include <QMessageBox>

#include <pthread.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kThreadStack = std::size_t(512) << 10;

void warn(const QString &message)
{
    std::fprintf(stderr, "vellora: %s\n", qPrintable(message));
}

// The window's threads are all the libraries' (Qt's drawing pool, its D-Bus and X11 event threads), and each would
// reserve the stack size of `ulimit -s`, 8 MiB by default: beside the libraries, three of those do not fit a 100 MB
// address space, and Qt's first frame waits for ever on a drawing thread that could not start. They run shallow
// code, for which 512 KiB is ample. Called before any thread starts.
void limitThreadStacks()
{
    pthread_attr_t attributes;
    std::size_t size = 0;
    int error = pthread_getattr_default_np(&attributes);
    if (error == 0) {
        error = pthread_attr_getstacksize(&attributes, &size);
        if (error == 0 && size > kThreadStack)
            error = pthread_attr_setstacksize(&attributes, kThreadStack);
        if (error == 0 && size > kThreadStack)
            error = pthread_setattr_default_np(&attributes);
        pthread_attr_destroy(&attributes);
    }
    if (error != 0)
        warn(QStringLiteral("the threads keep their large stacks: %1")
                 .arg(QString::fromLocal8Bit(std::strerror(error))));
}

// The app on the store file. It holds the file for as long as it runs and the command line hands it its
// commands, so that only one process ever writes the file; a second launch shows this window instead.
int runApp(const Command &command)
{
    VelloraApp::Options options;
    options.arguments = command.appArguments;
    options.storePath = storePathFor(command);
    VelloraApp app(std::move(options));
    switch (app.start()) {
    case VelloraApp::Start::handedOver:
        return 0;
    case VelloraApp::Start::failed:
        warn(app.errorString());
        return 1;
    case VelloraApp::Start::running:
        break;
    }
    if (!app.notice().isEmpty()) {
        warn(app.notice());
        auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vellora"), app.notice(), QMessageBox::Ok,
                                    app.window().mainWindow());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
#ifdef VELLORA_STARTUP_PROBE
    StartupProbe::watch(app.window().mainWindow());
#endif
    return QApplication::exec();
}

int runWindow(int &argc, char **argv, const Command &command)
{
    limitThreadStacks();
    QApplication app(argc, argv);
    QApplication::setStyle(new PaperStyle);
    return runApp(command);
}

} // namespace

extern "C" Q_DECL_EXPORT int vellora_module_run(int *argc, char **argv, const Command *command)
{
    if (command->verb == Command::Verb::openWindow)
        return runWindow(*argc, argv, *command);
    return runNetworkCommand(*command);
}
