#pragma once

#include "SyncKit/CloudAccount.h"
#include "Vellora/DayData/StoreFile.h"

#include "tests/WaitFor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

// A "computer" of its own for the vellora binary: a home with its data, its configuration (the account file) and
// its private runtime folder, where every command is a process of its own and an app can be left running; each
// process still running is ended when this goes away.
class Computer
{
public:
    Computer()
    {
        QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QDir().mkpath(QFileInfo(store).absolutePath());
    }

    ~Computer() { stopAll(); }

    void stopAll()
    {
        for (const auto &process : m_processes) {
            process->kill();
            process->waitForFinished();
        }
    }

    QString accountFile() const { return home.filePath("config/vellora-cloud/account.json"); }
    QString runtime() const { return home.path(); }

    // Starts vellora with `extraEnv` ("NAME=value" sets, "NAME=" removes) and `input` on its standard input;
    // `inChild` runs in the new process before vellora starts (to set a limit on it).
    QProcess *launch(const QStringList &arguments, const QStringList &extraEnv = {}, const QByteArray &input = {},
                     const std::function<void()> &inChild = {})
    {
        auto process = std::make_unique<QProcess>();
        if (inChild)
            process->setChildProcessModifier(inChild);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", home.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
        environment.insert("XDG_RUNTIME_DIR", runtime());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("VELLORA_PASSPHRASE_COST", "minimum");
        for (const QString &pair : extraEnv) {
            if (pair.endsWith('='))
                environment.remove(pair.chopped(1));
            else
                environment.insert(pair.section('=', 0, 0), pair.section('=', 1));
        }
        process->setProcessEnvironment(environment);
        process->start(VELLORA_BINARY, arguments + QStringList{"--store", store});
        process->write(input);
        process->closeWriteChannel();
        m_processes.push_back(std::move(process));
        return m_processes.back().get();
    }

    static bool finished(QProcess *process, int timeoutMs = 60000)
    {
        return waitFor([&] { return process->state() == QProcess::NotRunning; }, timeoutMs);
    }

    // Runs vellora to its end; the event loop runs meanwhile, so that an app in this process can answer.
    Outcome run(const QStringList &arguments, const QStringList &extraEnv = {}, const QByteArray &input = {})
    {
        QProcess *process = launch(arguments, extraEnv, input);
        EXPECT_TRUE(finished(process)) << arguments.join(' ').toStdString();
        return {process->exitCode(), QString::fromUtf8(process->readAllStandardOutput()),
                QString::fromUtf8(process->readAllStandardError())};
    }

    QJsonObject json(const QStringList &arguments)
    {
        return QJsonDocument::fromJson(run(arguments + QStringList{"--json"}).out.toUtf8()).object();
    }

    // A file of this computer holding `text` on its first line, for --passphrase-file and --recovery-key-file.
    QString secretFile(const QString &text)
    {
        const QString path = home.filePath(QStringLiteral("secret-%1").arg(++m_secrets));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text.toUtf8() + '\n') > 0);
        return path;
    }

    // `account sign-in` with the token on standard input and the passphrase in a file.
    Outcome signIn(const QString &server, const QString &user, const QString &token, const QString &passphrase,
                   const QStringList &more = {}, const QStringList &extraEnv = {})
    {
        return run(QStringList{"account", "sign-in", server, user, "--passphrase-file", secretFile(passphrase)} + more,
                   extraEnv, token.toUtf8() + '\n');
    }

    // An account file as a sign-in of an earlier version left it, or one naming another address.
    void writeAccount(const SyncKit::CloudAccount &account) const
    {
        QDir().mkpath(QFileInfo(accountFile()).absolutePath());
        ASSERT_TRUE(account.writeFile(accountFile()));
    }

    QByteArray accountBytes() const
    {
        QFile file(accountFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray storeBytes() const
    {
        QFile file(store);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The titles in the store file as it is on disk, sorted.
    QStringList titles() const
    {
        QStringList titles;
        const auto loaded = StoreFile::load(store);
        for (const auto &[id, item] : loaded.saved ? loaded.saved->items : decltype(loaded.saved->items)())
            titles.append(item.title);
        titles.sort();
        return titles;
    }

    QTemporaryDir home;
    QString store = home.filePath("data/vellora/store.json");

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
    int m_secrets = 0;
};
