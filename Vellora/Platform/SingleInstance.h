#pragma once

#include "Vellora/Platform/InstanceChannel.h"

#include <QDeadlineTimer>
#include <QJsonObject>
#include <QObject>

#include <deque>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

// Keeps one app per store file. The app that starts first holds the file's lock for its whole run and listens on
// the store's local socket; a later launch asks it to show its window and ends, and the command line hands it
// its commands, so that only one process ever writes the file. Lives on the main thread; the app owns it.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    struct Callbacks
    {
        std::function<void()> showWindow;
        std::function<void()> toggleWindow;
        // Runs a command given as JSON (Command::toJson) on the app's store; answers with its outcome as JSON.
        std::function<QJsonObject(const QJsonObject &command)> runCommand;
        // Runs one sync round and calls back with the answer (okAnswer or errorAnswer) when it has ended.
        std::function<void(std::function<void(const QJsonObject &answer)> reply)> syncNow;
    };

    enum class Start {
        primary,    // this app holds the store and listens
        handedOver, // another app has the store and was asked to show its window: end this one
        failed,     // neither: errorString() says why
    };

    SingleInstance(QString storePath, Callbacks callbacks, QObject *parent = nullptr);
    ~SingleInstance() override;

    Start start(std::chrono::milliseconds wait = InstanceChannel::kClaimWait);
    QString errorString() const { return m_error; }
    bool isListening() const;

private:
    void listen();
    void serve(QLocalSocket *socket);
    QJsonObject answer(const QByteArray &line);
    QJsonObject answerCommand(const QJsonObject &request);

    // Commands answered lately, by request id: a command sent again after a late answer is not run twice.
    struct Answered
    {
        QString id;
        QJsonObject answer;
        QDeadlineTimer forgetAt;
    };
    std::deque<Answered> m_answered;

    QString m_storePath;
    Callbacks m_callbacks;
    std::unique_ptr<StoreLock> m_lock;
    QLocalServer *m_server = nullptr;
    QString m_error;
};
