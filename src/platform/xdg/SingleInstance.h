#pragma once

#include <QByteArray>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;

// Keeps a second Tindrel on the same store from running: two would overwrite
// each other's clips. The first holds a lock file and listens on a local
// socket; a later start hands its request to the first and leaves.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    SingleInstance(QString lockPath, QString socketPath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The paths for a store file: the lock beside it, the socket in the
    // user's runtime folder under a name derived from the store's path.
    static QString lockPathFor(const QString& storePath);
    static QString socketPathFor(const QString& storePath);

    // Takes the lock and starts listening; false when another process holds
    // the lock (or it cannot be taken at all).
    bool claim();
    // From a process that could not claim: passes one message to the running
    // instance. False when none answers.
    bool sendToRunning(const QByteArray& message, int timeoutMs = 2000);

    // Each message another start sent, on the main thread.
    std::function<void(const QByteArray& message)> onMessage;

private:
    QString m_socketPath;
    QLockFile m_lock;
    QLocalServer* m_server = nullptr;
};
