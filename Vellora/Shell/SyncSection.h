#pragma once

#include <QTimer>
#include <QWidget>

class AppSync;
class PaperButtonStyle;
class PaperLabel;

// The Settings page's sync section: the state in one line, whether the account is encrypted and how many records
// did not open, "Sign in…" or "Sign out", "Change passphrase…", "Open on another device…" and "Sync now". It reads the account file and the
// last sync through AppSync and changes only the account file; the engine follows.
class SyncSection : public QWidget
{
    Q_OBJECT

public:
    explicit SyncSection(AppSync &sync, QWidget *parent = nullptr);

private:
    void showState();
    void signOut();
    void openSignIn();
    QString keyLine() const;

    AppSync &m_sync;
    PaperLabel *m_state = nullptr;
    PaperButtonStyle *m_signIn = nullptr;
    PaperButtonStyle *m_signOut = nullptr;
    PaperButtonStyle *m_syncNow = nullptr;
    PaperButtonStyle *m_passphrase = nullptr;
    PaperButtonStyle *m_link = nullptr;
    QTimer m_tick; // "2 minutes ago" grows old
    bool m_syncing = false;
    bool m_signingOut = false;
    QString m_signOutNote; // what the last sign-out could not send, shown until the next sign-in
};
