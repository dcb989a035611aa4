#include "cli/CommandLine.h"

#include "cli/SyncCommands.h"

#include "SyncKit/CloudAccount.h"
#include "Vellora/Commands/CommandRunner.h"
#include "Vellora/Files/AtomicFile.h"
#include "Vellora/DayData/SheetText.h"
#include "Vellora/DayData/StoreFile.h"
#include "Vellora/Platform/InstanceChannel.h"
#include "Vellora/Sync/AppStore.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

QString helpText()
{
    return QStringLiteral(
        "Usage: vellora [COMMAND] [OPTIONS]\n"
        "\n"
        "Without a command, vellora opens the planner's window.\n"
        "\n"
        "Commands:\n"
        "  today                 show today's sheet: the date, the item count and the nine rows\n"
        "  backlog               show the Backlog in order; items whose block is full are marked\n"
        "  add TEXT              add a task to the first block with a free row (the Backlog when all are full)\n"
        "      --block B         ...or to block B: big, medium or small (the Backlog when B is full)\n"
        "  edit ITEM TEXT        change an item's text\n"
        "  done ITEM             tick an item off, or untick it\n"
        "  delete ITEM           delete an item\n"
        "  up ITEM, down ITEM    step an item one row up or down across the blocks\n"
        "  bring ITEM            bring a Backlog item back to its block on Today\n"
        "  new-day               start a new day: unfinished items go to the Backlog, done ones are dropped\n"
        "  toggle                show or hide the running planner's window\n"
        "  sync                  sync now: send every change waiting, fetch everything new\n"
        "  account sign-in SERVER USER [--passphrase-file FILE] [--recovery-key-file FILE]\n"
        "                        sign in to a sync server; the token is read from standard input, the sync\n"
        "                        passphrase from FILE or a prompt (chosen now, and asked twice, for an account\n"
        "                        with no key yet); with a recovery key, the passphrase given becomes the new one\n"
        "  account passphrase [--passphrase-file FILE]\n"
        "                        set a new sync passphrase; the other computers keep working\n"
        "  account recovery-key  show the account's recovery key again\n"
        "  account link          a one-time address that signs a phone or another computer in to the planner's\n"
        "                        page, valid for 10 minutes: open it there, or scan its QR code (--json for JSON)\n"
        "  account status        show the account, whether it is encrypted and the last sync (--json for JSON)\n"
        "  account sign-out      sign out: the account's tasks leave this computer (the server keeps them);\n"
        "                        tasks made while signed out join the next account signed in\n"
        "\n"
        "ITEM is an item's id, a unique start of it (at least 4 characters), or a row of Today as a slot id\n"
        "(\"slot.3.1\") or its short form (\"3.1\": the block's size, then the row counted from 0).\n"
        "\n"
        "Options:\n"
        "  --json                print today and backlog (and the result of add) as JSON\n"
        "  --store FILE          use FILE instead of the planner's own store file (also --store=FILE)\n"
        "  -h, --help            show this help\n"
        "\n"
        "Exit status:\n"
        "  0  done\n"
        "  1  failed: nothing was changed, and standard error says why\n"
        "  2  the command line cannot be understood\n"
        "  3  the running planner made the change and keeps it, but could not save it yet (disk full)\n"
        "  4  the store file had unreadable items, or could not be read at all: it was kept aside as it was\n"
        "     and the command ran on what could be read\n"
        "  5  the running planner did not answer in time: the change may have been made (run vellora today)\n"
        "\n"
        "Examples:\n"
        "  vellora add \"Write the quarterly report\" --block big\n"
        "  vellora done 1.0\n"
        "  vellora today --json\n");
}

// Characters that change how the terminal shows what follows: the bidirectional controls, which can make a
// title read in another order than it is written, and the line and paragraph separators.
bool isLayoutControl(char16_t u)
{
    return u == 0x061c || u == 0x200e || u == 0x200f || (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069) ||
           u == 0x2028 || u == 0x2029;
}

// Control characters in a title (an escape sequence, a bell, a right-to-left override) are shown as escapes, never
// sent to the terminal. The escapes of the latter are JSON's own, so that JSON output stays JSON.
QString escapedControls(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 && u != '\n' && u != '\t')
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else if (u == 0x7f || (u >= 0x80 && u < 0xa0) || isLayoutControl(u))
            out += QStringLiteral("\\u") + QString::number(u, 16).toUpper().rightJustified(4, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void printOutcome(const CommandOutcome &outcome)
{
    print(stdout, outcome.out);
    if (!outcome.err.isEmpty())
        print(stderr, QStringLiteral("vellora: %1\n").arg(outcome.err));
}

// The running app does the work: its sheet shows the change at once, and it stays the only writer of the file.
int runInApp(const Command &command, InstanceChannel::Client &app)
{
    // Asked again with the same request id when the answer is late, so that a change is never made twice.
    const auto answer = app.askOnce(InstanceChannel::commandRequest(command.toJson()));
    if (!answer && command.isEdit())
        return fail(QStringLiteral("Vellora is running but did not answer in time, so the change may have been made; "
                                   "run vellora today or vellora backlog to see"),
                    ExitStatus::mayHaveBeenSaved);
    if (!answer)
        return fail(QStringLiteral("Vellora is running but did not answer in time"));
    if (!answer->value("ok").toBool())
        return fail(answer->value("error").toString());
    const CommandOutcome outcome = CommandOutcome::fromJson(answer->value("outcome").toObject());
    printOutcome(outcome);
    return outcome.exitCode;
}

// A command that changes nothing opens the store to read it only: it neither makes the file nor writes it, and a
// later day shows its new day as the first change will write it.
std::unique_ptr<DayStore> openStore(const Command &command, const QString &path)
{
    if (command.isEdit())
        return makeAppStore(path);
    DayStore::Options options;
    options.filePath = path;
    options.readOnly = true;
    return std::make_unique<DayStore>(std::move(options));
}

int runOnFile(const Command &command, const QString &path)
{
    auto store = openStore(command, path);
    if (!store->openError().isEmpty())
        return fail(
            QStringLiteral("the store %1 cannot be used: %2; nothing was changed").arg(path, store->openError()));
    int status = ExitStatus::ok;
    if (!store->setAsidePath().isEmpty()) {
        status = ExitStatus::storeSetAside;
        print(stderr, QStringLiteral("vellora: %1\n")
                          .arg(store->damage().any()
                                   ? store->damage().describe(store->setAsidePath())
                                   : QStringLiteral("the store file could not be read; it was kept as %1")
                                         .arg(store->setAsidePath())));
    }
    if (!store->filePath())
        return fail(QStringLiteral("the store file %1 cannot be read or moved aside; nothing was changed").arg(path));
    // Not a failure: every task is still on a page, only not where it was.
    if (!store->overflowAtOpen().isEmpty()) {
        QStringList titles;
        for (const DayItem &item : store->overflowAtOpen())
            titles.append(item.title);
        print(stderr, QStringLiteral("vellora: %1\n").arg(overflowText(titles)));
    }

    const CommandOutcome outcome = runCommand(command, *store);
    // A file that holds the change after a failed save was renamed into place, and only the folder's flush failed:
    // the whole write once more flushes the folder anew.
    const auto inPlace = [&] {
        const AtomicFile::ReadResult onDisk = AtomicFile::read(path);
        return onDisk.bytes && *onDisk.bytes == StoreFile::encode(store->saved());
    };
    if (store->saveError() && inPlace())
        store->save();
    // Success is said only once the change is on disk; otherwise the file is as it was before the command.
    if (const auto error = store->saveError()) {
        if (inPlace())
            return fail(QStringLiteral("the change is saved but the folder could not be flushed: %1 (%2); it may be "
                                       "lost in a power cut")
                            .arg(*error, path));
        return fail(QStringLiteral("nothing was saved: %1 (%2)").arg(*error, path));
    }
    printOutcome(outcome);
    // The command's own failure comes first; the store's is on standard error either way.
    return outcome.exitCode != ExitStatus::ok ? outcome.exitCode : status;
}

// Through the app that has the store open, or else through the file under its lock; a change made on the file is
// then sent at once when signed in, as the app would (after the lock is let go).
int runOnStore(const Command &command, const QString &path, const NetworkHost &runNetwork = {})
{
    int code = 0;
    {
        InstanceChannel::StoreClaim claim = InstanceChannel::claimStore(path);
        if (claim.app)
            return runInApp(command, *claim.app);
        if (!claim.lock && !claim.error.isEmpty())
            return fail(claim.error + QStringLiteral("; nothing was changed"));
        if (!claim.lock)
            return fail(QStringLiteral("the store %1 is in use by another vellora; try again").arg(path));
        code = runOnFile(command, path);
    }
    if (code != 0 || !command.isEdit() || !runNetwork || !QFileInfo::exists(SyncKit::CloudAccount::defaultFilePath()))
        return code;
    Command send = command;
    send.verb = Command::Verb::sync;
    send.arguments = QStringList{QLatin1String(kSendAfterEdit)};
    runNetwork(send);
    return code;
}

// Asks the running app to show or toggle its window; false when no app has this store open.
std::optional<int> askApp(const QString &path, const QJsonObject &request)
{
    InstanceChannel::Client app(path);
    if (!app.connectToApp())
        return app.errorString().isEmpty() ? std::nullopt : std::optional<int>(fail(app.errorString()));
    const auto answer = app.ask(request);
    if (!answer || !answer->value("ok").toBool())
        return fail(QStringLiteral("Vellora is running but did not answer in time"));
    return 0;
}

} // namespace

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = escapedControls(text).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

int fail(const QString &message, int code)
{
    print(stderr, QStringLiteral("vellora: %1\n").arg(message));
    return code;
}

std::optional<QString> storePathFor(const Command &command)
{
    if (command.storePath)
        return QFileInfo(*command.storePath).absoluteFilePath();
    return StoreFile::defaultFilePath();
}

int runCommandLine(int argc, char **argv, const WindowHost &openWindow, const NetworkHost &runNetwork)
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
        return fail(error->message, ExitStatus::usage);
    const Command &command = std::get<Command>(parsed);

    if (command.verb == Command::Verb::help) {
        print(stdout, helpText());
        return 0;
    }
    if (command.isNetworkCommand())
        return runNetwork ? runNetwork(command) : fail(QStringLiteral("this vellora cannot sync"));
    const auto path = storePathFor(command);
    if (!path)
        return fail(QStringLiteral("neither HOME nor XDG_DATA_HOME is set, so there is no folder for the store file; "
                                   "give one with --store FILE"));

    switch (command.verb) {
    case Command::Verb::toggle:
        if (const auto code = askApp(*path, InstanceChannel::toggleWindowRequest()))
            return *code;
        return fail(QStringLiteral("Vellora is not running, so there is no window to show or hide; start it with "
                                   "vellora"));
    case Command::Verb::openWindow: {
        // A launch for interface tests works alone on an empty store: it neither joins a running app nor reads the
        // file.
        if (command.appArguments.contains(QStringLiteral("-uitests"))) {
            const auto empty = makeAppStore(std::nullopt);
            Command today;
            today.verb = Command::Verb::today;
            printOutcome(runCommand(today, *empty));
            return 0;
        }
        if (const auto code = askApp(*path, InstanceChannel::showWindowRequest()))
            return *code;
        // Without a window to open, the sheet is shown as text.
        Command today = command;
        today.verb = Command::Verb::today;
        return runOnStore(today, *path);
    }
    default:
        return runOnStore(command, *path, runNetwork);
    }
}
