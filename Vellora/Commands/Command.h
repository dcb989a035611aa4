#pragma once

#include "Vellora/DayData/Block.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// The exit statuses of `vellora`, each for one outcome; --help, the README and the man page list them.
namespace ExitStatus {
constexpr int ok = 0;
constexpr int failed = 1;           // nothing was changed; standard error says why
constexpr int usage = 2;            // a command line that cannot be understood
constexpr int notSaved = 3;         // the running planner made the change and keeps it, but could not save it yet
constexpr int storeSetAside = 4;    // the store file had unreadable items, or was unreadable: it was kept aside
constexpr int mayHaveBeenSaved = 5; // the running planner did not answer in time: the change may have been made
} // namespace ExitStatus

// The most characters (code points) a task's title may have: the command line and a command arriving at the app
// refuse a longer one.
constexpr qsizetype kMaxTitleLength = 1000;
// Whether `text` has more than kMaxTitleLength characters, a pair of surrogates counting as one.
bool isLongerThanATitle(const QString &text);

// One parsed `vellora` command line.
struct Command
{
    enum class Verb {
        openWindow, help, today, backlog, add, edit, done, remove, up, down, bring, newDay, toggle, sync, account
    };

    Verb verb = Verb::openWindow;
    QString item;          // ITEM argument
    QString text;          // TEXT argument
    QStringList arguments; // account: the action and its arguments
    std::optional<Block> block;
    bool json = false;
    std::optional<QString> storePath; // --store FILE
    std::optional<QString> passphraseFile;  // account sign-in, account passphrase: --passphrase-file FILE
    std::optional<QString> recoveryKeyFile; // account sign-in: --recovery-key-file FILE
    QStringList appArguments;         // what the window keeps (-uitests and the like)

    // Whether the command runs in the network module (sync and account).
    bool isNetworkCommand() const { return verb == Verb::sync || verb == Verb::account; }
    // Whether the command changes the store.
    bool isEdit() const;

    // The form in which a command travels to a running app, and back.
    QJsonObject toJson() const;
    static std::optional<Command> fromJson(const QJsonObject &object);
};

struct CommandError
{
    QString message;
};

// A command that came as JSON (to the running app), checked as the command line checks its own: unknown verbs and
// blocks, and a text over kMaxTitleLength, are refused with the reason.
std::variant<Command, CommandError> commandFromJson(const QJsonObject &object);

std::variant<Command, CommandError> parseCommand(const QStringList &arguments);
