#pragma once

#include "tests/Shell/ShellFixture.h"

#include "cli/CommandLine.h"
#include "Vellora/DayData/StoreFile.h"

#include <QJsonArray>
#include <QProcess>

// The vellora program as people run it: every call is a process of its own, with data, settings and a private
// runtime folder of the test's own. When a test starts the app, the running app is this test process, so that its
// store and window can be looked at.

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

class ProcessTest : public testing::Test
{
protected:
    void SetUp() override { Paper::setAnimationsEnabled(false); }

    void TearDown() override
    {
        for (const auto &process : m_processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
        app.reset();
    }

    // Starts vellora with `extraEnv` ("NAME=value" sets, "NAME=" removes).
    QProcess *launch(QStringList arguments, const QStringList &extraEnv = {})
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", dir.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        environment.insert("XDG_RUNTIME_DIR", env.dir.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        for (const QString &pair : extraEnv) {
            if (pair.endsWith('='))
                environment.remove(pair.chopped(1));
            else
                environment.insert(pair.section('=', 0, 0), pair.section('=', 1));
        }
        process->setProcessEnvironment(environment);
        arguments << "--store" << store;
        process->start(VELLORA_BINARY, arguments);
        m_processes.push_back(std::move(process));
        return m_processes.back().get();
    }

    static bool finished(QProcess *process, int timeoutMs = 60000)
    {
        return waitFor([&] { return process->state() == QProcess::NotRunning; }, timeoutMs);
    }

    // Runs vellora to its end; the event loop runs meanwhile, so that an app in this process can answer.
    Outcome vellora(const QStringList &arguments, const QStringList &extraEnv = {})
    {
        QProcess *process = launch(arguments, extraEnv);
        EXPECT_TRUE(finished(process)) << arguments.join(' ').toStdString();
        return {process->exitCode(), QString::fromUtf8(process->readAllStandardOutput()),
                QString::fromUtf8(process->readAllStandardError())};
    }

    QJsonObject json(const QStringList &arguments)
    {
        return QJsonDocument::fromJson(vellora(arguments + QStringList{"--json"}).out.toUtf8()).object();
    }

    QString addedId(const QString &title, const QString &block)
    {
        return json({"add", title, "--block", block}).value("id").toString();
    }

    QByteArray storeBytes() const
    {
        QFile file(store);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void writeStore(const QByteArray &bytes) const
    {
        QFile file(store);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

    qsizetype itemsInFile() const
    {
        const auto loaded = StoreFile::load(store);
        return loaded.saved ? qsizetype(loaded.saved->items.size()) : 0;
    }

    void startApp()
    {
        app = std::make_unique<VelloraApp>(env.options({}, store));
        ASSERT_EQ(app->start(), VelloraApp::Start::running) << app->errorString().toStdString();
        ASSERT_TRUE(waitFor([&] { return app->isLaunchFinished(); }));
    }

    ShellTest::AppEnvironment env; // its folder is the private runtime folder
    QTemporaryDir dir;
    QString store = dir.filePath("store.json");
    std::unique_ptr<VelloraApp> app;

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
};
