#pragma once

#include "Vellora/Commands/Command.h"

#include <QString>

class DayStore;

// What a command printed and how it ended.
struct CommandOutcome
{
    int exitCode = 0;
    QString out;
    QString err; // one line, without the program name

    QJsonObject toJson() const;
    static CommandOutcome fromJson(const QJsonObject &object);
};

// Runs a store command on a store: the command line's own, or the running app's.
CommandOutcome runCommand(const Command &command, DayStore &store);

// Runs a command that came from another vellora process as JSON (Command::toJson) and gives its outcome as JSON:
// what the running app answers over its local socket.
QJsonObject runCommandRequest(const QJsonObject &command, DayStore &store);
