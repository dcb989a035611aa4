#include "cli/AppStore.h"
#include "cli/CommandLine.h"
#include "cli/CommandRunner.h"
#include "Vellora/Platform/SingleInstance.h"
#include "Vellora/Sheet/SheetWindow.h"

#include <QApplication>

#include <cstdio>

namespace {

void warn(const QString &message)
{
    std::fprintf(stderr, "vellora: %s\n", qPrintable(message));
}

// The window on the store file. The process holds the file for as long as it runs and the command line hands it
// its commands, so that only one process ever writes the file; a second launch shows this window instead.
int runWindow(const Command &command)
{
    if (command.appArguments.contains(QStringLiteral("-uitests"))) {
        // Interface tests: an empty store that reads and writes no file, and no running app to join.
        const auto store = makeAppStore(std::nullopt);
        return runSheetWindow(*store);
    }
    const auto path = storePathFor(command);
    if (!path) {
        warn(QStringLiteral("there is no folder for the store file; give one with --store FILE"));
        return 1;
    }
    std::unique_ptr<DayStore> store;
    std::unique_ptr<SheetWindow> window;
    // Requests are served by the event loop, once the store and the window below exist.
    SingleInstance instance(*path, {[&] { window->bringToFront(); }, [&] { window->toggleShown(); },
                                    [&](const QJsonObject &request) { return runCommandRequest(request, *store); }});
    switch (instance.start()) {
    case SingleInstance::Start::handedOver:
        return 0;
    case SingleInstance::Start::failed:
        warn(instance.errorString());
        return 1;
    case SingleInstance::Start::primary:
        break;
    }
    store = makeAppStore(*path);
    if (!store->setAsidePath().isEmpty())
        warn(QStringLiteral("the store file could not be read; it was kept as %1").arg(store->setAsidePath()));
    if (!store->fileURL()) {
        warn(QStringLiteral("the store file %1 cannot be read or moved aside; nothing was changed").arg(*path));
        return 1;
    }
    window = std::make_unique<SheetWindow>(*store);
    window->show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char **argv)
{
    return runCommandLine(argc, argv, [&argc, argv](const Command &command) {
        QApplication app(argc, argv);
        return runWindow(command);
    });
}
