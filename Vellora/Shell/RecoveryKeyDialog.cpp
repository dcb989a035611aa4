#include "Vellora/Shell/RecoveryKeyDialog.h"

#include "Vellora/Files/AtomicFile.h"
#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLayout>
#include <QLineEdit>

#include <algorithm>

RecoveryKeyDialog::RecoveryKeyDialog(QString recoveryKey, QWidget *parent)
    : PaperDialog(QStringLiteral("recoveryKey"), QStringLiteral("Recovery key"), parent),
      m_recoveryKey(std::move(recoveryKey))
{
    addText(QStringLiteral("recoveryKey.message"),
            QStringLiteral("This is your account's recovery key. Keep it somewhere safe, apart from this computer: "
                           "with it you can sign in when the sync passphrase is lost. It is shown only now. Without "
                           "both, no one, not the server either, can open your tasks."),
            Paper::kDialogTextSize, Paper::Role::ink);
    // Selectable, so that it can be copied in part or read aloud by a screen reader.
    auto *key = new QLineEdit(m_recoveryKey);
    key->setObjectName(QStringLiteral("recoveryKey.key"));
    key->setAccessibleName(QStringLiteral("Recovery key"));
    key->setReadOnly(true);
    // Wide enough to show the whole key at once, in a face where no two characters look alike.
    key->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const int keyWidth = key->fontMetrics().horizontalAdvance(m_recoveryKey) + 2 * key->fontMetrics().averageCharWidth();
    key->setMinimumWidth(keyWidth);
    addWidget(key);
    const QMargins margins = layout()->contentsMargins();
    setFixedWidth(std::max(Paper::kDialogWidth, keyWidth + margins.left() + margins.right()));
    m_saved = addText(QStringLiteral("recoveryKey.saved"), QString(), Paper::kDialogTextSize, Paper::Role::accent);
    m_saved->hide();

    m_copy = addButton(QStringLiteral("recoveryKey.copy"), QStringLiteral("Copy"));
    connect(m_copy, &QAbstractButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_recoveryKey);
        m_copy->setText(QStringLiteral("Copied"));
    });
    PaperButtonStyle *save = addButton(QStringLiteral("recoveryKey.save"), QStringLiteral("Save as…"));
    connect(save, &QAbstractButton::clicked, this, &RecoveryKeyDialog::saveAs);
    PaperButtonStyle *done = addButton(QStringLiteral("recoveryKey.done"), QStringLiteral("I Have Kept It"), true);
    connect(done, &QAbstractButton::clicked, this, &QDialog::accept);
}

void RecoveryKeyDialog::saveAs()
{
    auto *chooser = new QFileDialog(this, QStringLiteral("Save the recovery key"), QDir::homePath(),
                                    QStringLiteral("Text files (*.txt)"));
    chooser->setObjectName(QStringLiteral("recoveryKey.chooser"));
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    chooser->setAcceptMode(QFileDialog::AcceptSave);
    chooser->setDefaultSuffix(QStringLiteral("txt"));
    chooser->selectFile(QStringLiteral("vellora-recovery-key.txt"));
    connect(chooser, &QFileDialog::fileSelected, this, [this](const QString &path) {
        // The key alone on the first line: `vellora account sign-in --recovery-key-file` reads it from there.
        const QByteArray text = QStringLiteral("%1\n\nThe recovery key of your Vellora sync account: with it you can "
                                               "sign in when the sync passphrase is lost.\n")
                                    .arg(m_recoveryKey)
                                    .toUtf8();
        if (const auto error = AtomicFile::write(path, text)) {
            m_saved->setRole(Paper::Role::accent);
            m_saved->setText(QStringLiteral("Not saved: %1 (%2).").arg(error->reason, path));
        } else {
            m_saved->setRole(Paper::Role::ink);
            m_saved->setText(QStringLiteral("Saved to %1.").arg(path));
        }
        m_saved->show();
    });
    chooser->open();
}
