#include "Vellora/Shell/StartupProbe.h"
#include "Vellora/Shell/VelloraApp.h"
#include "Vellora/WindowEntry.h"
#include "cli/CommandLine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace {

void warn(const QString &message)
{
    std::fprintf(stderr, "vellora: %s\n", qPrintable(message));
}

// The app on the store file. It holds the file for as long as it runs and the command line hands it its
// commands, so that only one process ever writes the file; a second launch shows this window instead.
int runApp(const Command &command, const QElapsedTimer &sinceStart)
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
                                    app.mainWindow());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    // A start-up measurement ends once the first frame is up: the store is given back and the process ends at
    // once, without taking the window down piece by piece.
    StartupProbe::watch(app.mainWindow(), sinceStart, [&app] {
        app.releaseStore();
        std::_Exit(0);
    });
    return QApplication::exec();
}

} // namespace

// The entry point of the window module, which the vellora program loads only to open the window.
extern "C" Q_DECL_EXPORT int vellora_run_window(int argc, char **argv, const Command *command,
                                                const QElapsedTimer *sinceStart)
{
    QApplication app(argc, argv);
    return runApp(*command, *sinceStart);
}
