#pragma once

#include "Vellora/DayData/StoreFile.h"

#include "tests/WaitFor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

// A "computer" of its own for the vellora binary: a home with its data, its configuration (the account file) and
// its runtime folder, where commands run and an app can be left running until this goes away.
class Computer
{
public:
    Computer()
    {
        QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QDir().mkpath(QFileInfo(storePath()).absolutePath());
    }

    ~Computer()
    {
        if (m_app) {
            m_app->kill();
            m_app->waitForFinished();
        }
    }

    QString accountFile() const { return home.filePath("config/vellora-cloud/account.json"); }
    QString storePath() const { return home.filePath("data/vellora/store.json"); }

    Outcome run(const QStringList &arguments, const QByteArray &input = {}) const
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(VELLORA_BINARY, arguments + QStringList{"--store", storePath()});
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(waitFor([&] { return process.state() == QProcess::NotRunning; }, 60000));
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // The titles in the store file as it is on disk.
    QStringList titles() const
    {
        QStringList titles;
        const auto loaded = StoreFile::load(storePath());
        for (const auto &[id, item] : loaded.saved ? loaded.saved->items : decltype(loaded.saved->items)())
            titles.append(item.title);
        return titles;
    }

    QJsonObject json(const QStringList &arguments) const
    {
        return QJsonDocument::fromJson(run(arguments + QStringList{"--json"}).out.toUtf8()).object();
    }

    // The app itself, on the offscreen platform, with this computer's store and account.
    QProcess &startApp()
    {
        m_app = std::make_unique<QProcess>();
        QProcessEnvironment env = environment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        m_app->setProcessEnvironment(env);
        m_app->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_app->start(VELLORA_BINARY, {"--store", storePath()});
        return *m_app;
    }

private:
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", home.path());
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        return env;
    }

    QTemporaryDir home;
    std::unique_ptr<QProcess> m_app;
};
