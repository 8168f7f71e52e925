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

    enum class Claim {
        Won,           // the lock is ours, and we listen for later starts
        HeldByAnother, // a running process holds it
        // The lock file cannot be created (a read-only or full disk): that
        // says nothing about another instance. Nothing listens yet.
        Unavailable,
    };
    // Takes the lock and, when won, starts listening.
    Claim claim();
    // Why the lock could not be created, after Claim::Unavailable.
    const QString& problem() const { return m_problem; }
    // Listens for later starts without the lock (after Claim::Unavailable,
    // once no running instance answered).
    void listen();
    // From a process that could not claim: passes one message to the running
    // instance. False when none answers.
    bool sendToRunning(const QByteArray& message, int timeoutMs = 2000);

    // Each message another start sent, on the main thread.
    std::function<void(const QByteArray& message)> onMessage;

private:
    QString m_socketPath;
    QString m_problem;
    QLockFile m_lock;
    QLocalServer* m_server = nullptr;
};
