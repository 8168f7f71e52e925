#include "platform/xdg/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {
constexpr qint64 maxMessageBytes = 1024; // requests are single words
}

SingleInstance::SingleInstance(QString lockPath, QString socketPath, QObject* parent)
    : QObject(parent), m_socketPath(std::move(socketPath)), m_lock(lockPath) {
    // A lock left by a crashed process is taken over at once (QLockFile
    // checks whether its owner still runs), never after a wait.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
    if (m_server)
        m_server->close();
}

QString SingleInstance::lockPathFor(const QString& storePath) {
    return storePath + u".lock"_s;
}

QString SingleInstance::socketPathFor(const QString& storePath) {
    // Socket paths are short (108 bytes), so the store's path is hashed.
    const QByteArray digest =
        QCryptographicHash::hash(QFileInfo(storePath).absoluteFilePath().toUtf8(),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + u"/tindrel-"_s + QString::fromLatin1(digest) + u".sock"_s;
}

bool SingleInstance::claim() {
    QDir().mkpath(QFileInfo(m_lock.fileName()).absolutePath());
    if (!m_lock.tryLock(0))
        return false;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file still there is a crashed run's.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath))
        return true; // still the one instance; later starts just cannot reach us
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > maxMessageBytes)
                        socket->abort();
                    return;
                }
                const QByteArray message = socket->readLine(maxMessageBytes).trimmed();
                socket->disconnectFromServer();
                if (onMessage)
                    onMessage(message);
            });
        }
    });
    return true;
}

bool SingleInstance::sendToRunning(const QByteArray& message, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(message + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // Wait until the instance has read the line and hung up.
    if (socket.state() == QLocalSocket::ConnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}
