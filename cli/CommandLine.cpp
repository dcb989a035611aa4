#include "cli/CommandLine.h"

#include "Vellora/DayData/StoreFile.h"
#include "cli/AppStore.h"
#include "cli/CommandRunner.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLockFile>

#include <cstdio>

namespace {

constexpr int kUsageError = 2;
constexpr int kLockWaitMs = 5000;

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

int fail(const QString &message, int code = 1)
{
    print(stderr, QStringLiteral("vellora: %1\n").arg(message));
    return code;
}

std::optional<QString> storePathOf(const Command &command)
{
    if (command.storePath)
        return QFileInfo(*command.storePath).absoluteFilePath();
    return StoreFile::defaultFileURL();
}

int runOnFile(const Command &command, const QString &path)
{
    QLockFile lock(lockPathFor(path));
    if (!lock.tryLock(kLockWaitMs))
        return fail(QStringLiteral("the store %1 is in use by another vellora; try again").arg(path));

    const auto store = makeAppStore(path);
    if (!store->setAsidePath().isEmpty())
        print(stderr, QStringLiteral("vellora: the store file could not be read; it was kept as %1\n")
                          .arg(store->setAsidePath()));
    if (!store->fileURL())
        return fail(QStringLiteral("the store file %1 cannot be read or moved aside; nothing was changed").arg(path));

    const CommandOutcome outcome = runCommand(command, *store);
    print(stdout, outcome.out);
    if (!outcome.err.isEmpty())
        print(stderr, QStringLiteral("vellora: %1\n").arg(outcome.err));
    return outcome.exitCode;
}

} // namespace

QString lockPathFor(const QString &storePath)
{
    return storePath + QStringLiteral(".lock");
}

WindowStore openWindowStore(const Command &command)
{
    WindowStore result;
    if (command.appArguments.contains(QStringLiteral("-uitests"))) {
        result.store = makeAppStore(std::nullopt);
        return result;
    }
    const auto path = storePathOf(command);
    if (!path) {
        result.error = QStringLiteral("there is no folder for the store file; give one with --store FILE");
        return result;
    }
    result.lock = std::make_unique<QLockFile>(lockPathFor(*path));
    if (!result.lock->tryLock(kLockWaitMs)) {
        result.error = QStringLiteral("the store %1 is in use by another vellora").arg(*path);
        result.lock.reset();
        return result;
    }
    result.store = makeAppStore(*path);
    if (!result.store->setAsidePath().isEmpty())
        result.notice =
            QStringLiteral("the store file could not be read; it was kept as %1").arg(result.store->setAsidePath());
    if (!result.store->fileURL()) {
        result.error =
            QStringLiteral("the store file %1 cannot be read or moved aside; nothing was changed").arg(*path);
        result.store.reset();
    }
    return result;
}

int runCommandLine(int argc, char **argv, const WindowHost &openWindow)
{
    // The arguments are read before any application object exists: the window makes its own.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const auto parsed = parseCommand(arguments);
    if (const auto *window = std::get_if<Command>(&parsed);
        window && window->verb == Command::Verb::openWindow && openWindow)
        return openWindow(*window);

    QCoreApplication app(argc, argv);
    if (const auto *error = std::get_if<CommandError>(&parsed))
        return fail(error->message, kUsageError);
    const Command &command = std::get<Command>(parsed);

    switch (command.verb) {
    case Command::Verb::help:
        print(stdout, helpText());
        return 0;
    case Command::Verb::toggle:
        return fail(QStringLiteral("the planner is not running"));
    case Command::Verb::openWindow: {
        // Without a window to open, the sheet is shown as text.
        Command today = command;
        today.verb = Command::Verb::today;
        return runOnFile(today, storePathOf(command).value_or(QString()));
    }
    default:
        break;
    }
    const auto path = storePathOf(command);
    if (!path)
        return fail(QStringLiteral("there is no folder for the store file; give one with --store FILE"));
    return runOnFile(command, *path);
}
