#pragma once

#include "Vellora/Paper/PaperDialog.h"

#include <QUrl>

class PaperButtonStyle;

// Shown when no browser could be started for an address: the address, and a button that copies it so that it can
// be pasted wherever the person reads the web.
class LinkDialog : public PaperDialog
{
    Q_OBJECT

public:
    explicit LinkDialog(const QUrl &url, QWidget *parent = nullptr);

    QUrl url() const { return m_url; }

private:
    QUrl m_url;
    PaperButtonStyle *m_copy = nullptr;
};
