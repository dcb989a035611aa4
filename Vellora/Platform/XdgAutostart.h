#pragma once

#include "Vellora/Platform/LoginItemService.h"

#include <QString>
#include <QStringList>

// The login item of freedesktop desktops: an entry in the user's autostart folder. The app counts as enabled
// while the entry exists and is not marked Hidden=true (which is how desktops switch an entry off).
class XdgAutostart : public LoginItemService
{
public:
    // configHome: the user's config folder ($XDG_CONFIG_HOME); command: the program and its arguments.
    XdgAutostart(QString configHome, QStringList command);

    // The running program, in the user's config folder.
    static std::unique_ptr<XdgAutostart> forThisProgram();

    QString entryPath() const;

    bool isEnabled() const override;
    std::optional<QString> registerApp() override;
    std::optional<QString> unregisterApp() override;

    // The Exec value that runs the given command, quoted as desktop entries need.
    static QString execLine(const QStringList &command);

private:
    QByteArray entryText() const;

    QString m_configHome;
    QStringList m_command;
};
