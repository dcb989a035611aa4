#include "Vellora/Commands/Command.h"

#include "Vellora/DayData/SheetText.h"

#include <QJsonArray>

#include <array>

namespace {

struct VerbInfo
{
    Command::Verb verb;
    const char *name;
    int itemArguments; // ITEM
    bool takesText;    // TEXT
    bool edits;        // changes the store
};

constexpr std::array<VerbInfo, 14> kVerbs{{
    {Command::Verb::help, "help", 0, false, false},
    {Command::Verb::today, "today", 0, false, false},
    {Command::Verb::backlog, "backlog", 0, false, false},
    {Command::Verb::add, "add", 0, true, true},
    {Command::Verb::edit, "edit", 1, true, true},
    {Command::Verb::done, "done", 1, false, true},
    {Command::Verb::remove, "delete", 1, false, true},
    {Command::Verb::up, "up", 1, false, true},
    {Command::Verb::down, "down", 1, false, true},
    {Command::Verb::bring, "bring", 1, false, true},
    {Command::Verb::newDay, "new-day", 0, false, true},
    {Command::Verb::toggle, "toggle", 0, false, false},
    {Command::Verb::sync, "sync", 0, false, false},
    {Command::Verb::account, "account", 0, false, false},
}};

const VerbInfo *verbNamed(const QString &name)
{
    for (const auto &info : kVerbs) {
        if (name == QLatin1String(info.name))
            return &info;
    }
    return nullptr;
}

const VerbInfo *infoOf(Command::Verb verb)
{
    for (const auto &info : kVerbs) {
        if (info.verb == verb)
            return &info;
    }
    return nullptr;
}

// The one check of a text's length, for the command line and for a command arriving at the app alike.
std::optional<CommandError> textTooLong(const QString &text)
{
    if (isLongerThanATitle(text))
        return CommandError{QStringLiteral("the text is longer than %1 characters").arg(kMaxTitleLength)};
    return std::nullopt;
}

// account sign-in SERVER USER | status | sign-out | passphrase | recovery-key | link
std::variant<Command, CommandError> parseAccountCommand(Command command, const QStringList &positional)
{
    const QString action = positional.value(0);
    const int wanted = action == "sign-in" ? 3 : 1;
    const bool known = action == "sign-in" || action == "status" || action == "sign-out" || action == "passphrase" ||
                       action == "recovery-key" || action == "link";
    if (!known || positional.size() != wanted)
        return CommandError{QStringLiteral("usage: vellora account sign-in SERVER USER [--passphrase-file FILE] "
                                           "[--recovery-key-file FILE] | status [--json] | sign-out | passphrase "
                                           "[--passphrase-file FILE] | recovery-key | link [--json]")};
    if (command.passphraseFile && action != "sign-in" && action != "passphrase")
        return CommandError{QStringLiteral("--passphrase-file is for account sign-in and account passphrase")};
    if (command.recoveryKeyFile && action != "sign-in")
        return CommandError{QStringLiteral("--recovery-key-file is for account sign-in")};
    command.arguments = positional;
    return command;
}

} // namespace

bool isLongerThanATitle(const QString &text)
{
    // Every character takes one or two UTF-16 units: most texts are decided without counting.
    if (text.size() <= kMaxTitleLength)
        return false;
    if (text.size() > 2 * kMaxTitleLength)
        return true;
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!(text.at(i).isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate()))
            ++count;
    }
    return count > kMaxTitleLength;
}

bool Command::isEdit() const
{
    const VerbInfo *info = infoOf(verb);
    return info && info->edits;
}

std::variant<Command, CommandError> parseCommand(const QStringList &arguments)
{
    Command command;
    QStringList positional;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            command.verb = Command::Verb::help;
            return command;
        } else if (argument == "--json") {
            command.json = true;
        } else if (const QString name = argument.section(QLatin1Char('='), 0, 0);
                   name == "--store" || name == "--block" || name == "--passphrase-file" ||
                   name == "--recovery-key-file") {
            // "--store FILE" or "--store=FILE"
            const bool joined = name.size() < argument.size();
            if (!joined && i + 1 >= arguments.size())
                return CommandError{QStringLiteral("%1 needs a value").arg(name)};
            const QString value = joined ? argument.mid(name.size() + 1) : arguments[++i];
            if (value.isEmpty())
                return CommandError{QStringLiteral("%1 needs a value").arg(name)};
            if (name == "--store") {
                command.storePath = value;
            } else if (name == "--passphrase-file") {
                command.passphraseFile = value;
            } else if (name == "--recovery-key-file") {
                command.recoveryKeyFile = value;
            } else if (!(command.block = blockFromBlockName(value))) {
                return CommandError{QStringLiteral("unknown block '%1' (use big, medium or small)").arg(value)};
            }
        } else if (argument == "--") {
            positional.append(arguments.mid(i + 1));
            break;
        } else if (argument.startsWith(QLatin1Char('-')) && positional.isEmpty() && argument.size() > 1 &&
                   !argument.startsWith(QLatin1String("--"))) {
            command.appArguments.append(argument); // a launch argument of the window, such as -uitests
        } else if (argument.startsWith(QLatin1String("--"))) {
            return CommandError{QStringLiteral("unknown option '%1'").arg(argument)};
        } else {
            positional.append(argument);
        }
    }

    if (positional.isEmpty())
        return command; // no subcommand: the window
    const QString verbName = positional.takeFirst();
    const VerbInfo *info = verbNamed(verbName);
    if (!info)
        return CommandError{QStringLiteral("unknown command '%1' (see vellora --help)").arg(verbName)};
    command.verb = info->verb;
    if (command.verb == Command::Verb::account)
        return parseAccountCommand(std::move(command), positional);
    if (command.passphraseFile || command.recoveryKeyFile)
        return CommandError{QStringLiteral("--passphrase-file and --recovery-key-file are for account commands")};

    const int wanted = info->itemArguments + (info->takesText ? 1 : 0);
    if (positional.size() != wanted) {
        const QString usage =
            QString::fromLatin1(info->name) + (info->itemArguments ? " ITEM" : "") + (info->takesText ? " TEXT" : "");
        return CommandError{QStringLiteral("usage: vellora %1").arg(usage)};
    }
    if (info->itemArguments)
        command.item = positional.takeFirst();
    if (info->takesText) {
        // Line breaks become single spaces, as when typing into a row.
        command.text = joinedLines(positional.takeFirst());
        if (command.text.trimmed().isEmpty())
            return CommandError{QStringLiteral("the text is empty")};
        if (auto error = textTooLong(command.text))
            return *error;
    }
    if (command.block && command.verb != Command::Verb::add)
        return CommandError{QStringLiteral("--block goes only with add")};
    return command;
}

QJsonObject Command::toJson() const
{
    const VerbInfo *info = infoOf(verb);
    QJsonObject object{
        {"verb", info ? QString::fromLatin1(info->name) : QString()}, {"item", item}, {"text", text}, {"json", json}};
    if (block)
        object.insert("block", storedForm(*block));
    return object;
}

std::optional<Command> Command::fromJson(const QJsonObject &object)
{
    const VerbInfo *info = verbNamed(object.value("verb").toString());
    if (!info)
        return std::nullopt;
    Command command;
    command.verb = info->verb;
    command.item = object.value("item").toString();
    command.text = object.value("text").toString();
    command.json = object.value("json").toBool();
    if (object.contains("block")) {
        command.block = blockFromStoredForm(object.value("block").toString());
        if (!command.block)
            return std::nullopt;
    }
    return command;
}

std::variant<Command, CommandError> commandFromJson(const QJsonObject &object)
{
    std::optional<Command> command = Command::fromJson(object);
    if (!command)
        return CommandError{QStringLiteral("the running app does not know this command")};
    if (auto error = textTooLong(command->text))
        return *error;
    return *command;
}
