#pragma once

#include "Vellora/Shell/Updater.h"

#include <QPointer>

class QMessageBox;

// Shows a check's result in a message box over the active window; a newer version comes with a button that opens
// its download page in the browser. One box at a time: a new result replaces the one still shown.
class UpdateDialog
{
public:
    ~UpdateDialog();
    void present(const UpdateCheckResult &result);

private:
    QPointer<QMessageBox> m_box;
};
