// Stands in for the running app in the whole-process benchmarks: holds a store file open the way the app does and
// serves the command line over the app's channel until it is ended.
#include "Vellora/Commands/CommandRunner.h"
#include "Vellora/Platform/SingleInstance.h"
#include "Vellora/Sync/AppStore.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: bench_instance_server STORE\n");
        return 2;
    }
    const QString path = app.arguments().at(1);
    const auto store = makeAppStore(path);
    SingleInstance instance(
        path, {[] {}, [] {}, [&](const QJsonObject &command) { return runCommandRequest(command, *store); }, {}});
    if (instance.start() != SingleInstance::Start::primary || !instance.isListening()) {
        std::fprintf(stderr, "bench_instance_server: %s\n", qPrintable(instance.errorString()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
