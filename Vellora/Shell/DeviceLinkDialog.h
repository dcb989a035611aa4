#pragma once

#include "SyncKit/CloudAccount.h"
#include "Vellora/Paper/PaperDialog.h"
#include "Vellora/Sync/DeviceLink.h"

class PaperButtonStyle;
class PaperLabel;
class QLabel;
class QLineEdit;

// "Open on another device…": asks the account's server for a one-time sign-in code and shows the page's address with
// it as a QR code to scan, as text to select or copy, and until when it holds; or, when no code could be had, why.
class DeviceLinkDialog : public PaperDialog
{
    Q_OBJECT

public:
    // Asks at once for the account given; without one, waits for showLink or showFailure.
    explicit DeviceLinkDialog(const std::optional<SyncKit::CloudAccount> &account, QWidget *parent = nullptr);

    void showLink(const DeviceLink &link);
    void showFailure(const QString &why);

private:
    PaperLabel *m_message = nullptr;
    QLabel *m_code = nullptr;
    QLineEdit *m_address = nullptr;
    PaperLabel *m_valid = nullptr;
    PaperButtonStyle *m_copy = nullptr;
};
