#include "Vellora/DayData/StoreFile.h"
#include "Vellora/Paper/PaperStyle.h"
#include "Vellora/Platform/HugePageHeap.h"
#include "Vellora/Shell/StartupProbe.h"
#include "Vellora/Shell/VelloraApp.h"
#include "Vellora/WindowEntry.h"
#include "cli/CommandLine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>

#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

namespace {

void warn(const QString &message)
{
    std::fprintf(stderr, "vellora: %s\n", qPrintable(message));
}

// The app on the store file. It holds the file for as long as it runs and the command line hands it its
// commands, so that only one process ever writes the file; a second launch shows this window instead.
int runApp(const Command &command, const std::optional<QString> &storePath, std::future<DayStore::ReadAhead> readAhead,
           const QElapsedTimer &sinceStart)
{
    VelloraApp::Options options;
    options.arguments = command.appArguments;
    options.storePath = storePath;
    if (readAhead.valid())
        options.readAhead = [ahead = std::make_shared<decltype(readAhead)>(std::move(readAhead))] {
            return ahead->get();
        };
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
    // Two things the first frame waits for do not need the application object, and run on threads of their own
    // while it connects to the display: reading the store file (the store takes it only if the file is still the
    // same once its lock is held) and reading the system's font configuration, which the first text measured
    // would otherwise read.
    const std::optional<QString> storePath = storePathFor(*command);
    // Enough for the store read and the window up to its first frame; settled once that frame is up.
    growHeapOnHugePages(std::size_t(24) << 20);
    std::future<DayStore::ReadAhead> readAhead;
    if (storePath && !VelloraApp::isUITestLaunch(command->appArguments))
        readAhead = std::async(std::launch::async, [path = *storePath] { return StoreFile::readAhead(path); });
    std::thread fonts([] { FcInit(); });
    QApplication app(argc, argv);
    QApplication::setStyle(new PaperStyle);
    fonts.join();
    return runApp(*command, storePath, std::move(readAhead), *sinceStart);
}
