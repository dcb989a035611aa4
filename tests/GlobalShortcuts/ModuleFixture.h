#pragma once

#include "JsonSettings.h"

#include "GlobalShortcuts/FakeHotKeyBackend.h"
#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/HotKey.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

// The module on a fresh defaults file and an in-memory desktop, with no actions from earlier cases.
class ModuleFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("defaults.json"));
        auto backend = std::make_unique<GlobalShortcuts::FakeHotKeyBackend>();
        m_backend = backend.get();
        GlobalShortcuts::HotKeyCenter::shared().setBackend(std::move(backend));
        GlobalShortcuts::removeAllActions();
        GlobalShortcuts::setEnabled(true);
        GlobalShortcuts::setRecorderActive(false);
        GlobalShortcuts::HotKeyCenter::shared().setMenuOpen(false);
        m_settings = openJsonSettings(m_path);
        GlobalShortcuts::setStorage(m_settings.get());
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
        m_settings.reset();
        m_settings = openJsonSettings(m_path);
        GlobalShortcuts::setStorage(m_settings.get());
    }

    QJsonValue fileValue(const QString &key) const { return readJsonFile(m_path).value(key); }

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<QSettings> m_settings;
    GlobalShortcuts::FakeHotKeyBackend *m_backend = nullptr;
};
