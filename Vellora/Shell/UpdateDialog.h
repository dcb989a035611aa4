#pragma once

#include "Vellora/Shell/UpdatePresenter.h"

#include <QPointer>

class QMessageBox;

// Shows a check's result in a message box over the active window; a newer version comes with a button that opens
// its download page in the browser. One box at a time: a new result replaces the one still shown.
class UpdateDialog : public UpdatePresenter
{
public:
    ~UpdateDialog() override;
    void present(const UpdateCheckResult &result) override;

private:
    QPointer<QMessageBox> m_box;
};
