#pragma once

#include "tests/Shell/ShellFixture.h"
#include "tests/cli/Computer.h"

#include "cli/CommandLine.h"

// The vellora program as people run it, on a computer of the test's own. When a test starts the app, the running
// app is this test process, so that its store and window can be looked at.
class ProcessTest : public testing::Test, public Computer
{
protected:
    void SetUp() override
    {
        Paper::setAnimationsEnabled(false);
        qputenv("XDG_RUNTIME_DIR", runtime().toUtf8()); // the app in this process shares the commands' folder
    }

    void TearDown() override
    {
        stopAll();
        app.reset();
    }

    Outcome vellora(const QStringList &arguments, const QStringList &extraEnv = {}) { return run(arguments, extraEnv); }

    QString addedId(const QString &title, const QString &block)
    {
        return json({"add", title, "--block", block}).value("id").toString();
    }

    void startApp()
    {
        app = std::make_unique<VelloraApp>(env.options({}, store));
        ASSERT_EQ(app->start(), VelloraApp::Start::running) << app->errorString().toStdString();
        ASSERT_TRUE(waitFor([&] { return app->window().isLaunchFinished(); }));
    }

    ShellTest::AppEnvironment env;
    std::unique_ptr<VelloraApp> app;
};
