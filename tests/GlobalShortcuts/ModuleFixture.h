#pragma once

#include "FakeHotKeyBackend.h"

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/HotKeyCenter.h"
#include "Vellora/Platform/JsonSettingsFormat.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The module on a fresh defaults file and an in-memory desktop, with no actions from earlier cases.
class ModuleFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        auto backend = std::make_unique<FakeHotKeyBackend>();
        m_backend = backend.get();
        GlobalShortcuts::HotKeyCenter::shared().setBackend(std::move(backend));
        GlobalShortcuts::removeAllActions();
        GlobalShortcuts::setRecorderActive(false);
        GlobalShortcuts::HotKeyCenter::shared().setMenuOpen(false);
        restart();
    }

    void TearDown() override
    {
        GlobalShortcuts::removeAllActions();
        GlobalShortcuts::setStorage(nullptr);
    }

    // What a new run finds: the actions are gone and the defaults are read again from the file.
    void restart()
    {
        GlobalShortcuts::removeAllActions();
        GlobalShortcuts::setStorage(nullptr);
        m_settings.reset(); // written back before the new run reads the file
        m_settings = JsonSettingsFormat::open(m_dir.filePath(QStringLiteral("defaults.json")));
        GlobalShortcuts::setStorage(m_settings.get());
    }

    QJsonValue fileValue(const QString &key) const
    {
        QFile file(m_settings->fileName());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object().value(key)
                                              : QJsonValue();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    FakeHotKeyBackend *m_backend = nullptr;
};
