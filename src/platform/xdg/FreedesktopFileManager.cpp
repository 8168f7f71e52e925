#include "platform/xdg/FreedesktopFileManager.h"

#include "core/util/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

using namespace Qt::StringLiterals;

FreedesktopFileManager::FreedesktopFileManager(QObject* parent)
    : FreedesktopFileManager(QDBusConnection::sessionBus(), parent) {}

FreedesktopFileManager::FreedesktopFileManager(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), startDetached([](const QString& program, const QStringList& arguments) {
          QProcess::startDetached(program, arguments);
      }),
      m_bus(bus) {}

void FreedesktopFileManager::reveal(const QString& path) {
    if (!m_bus.isConnected()) {
        openFolder(path);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        u"org.freedesktop.FileManager1"_s, u"/org/freedesktop/FileManager1"_s,
        u"org.freedesktop.FileManager1"_s, u"ShowItems"_s);
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Asynchronous: starting a file manager by bus activation takes seconds,
    // and the caller is the GUI thread.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, path](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                const QDBusPendingReply<> reply = *done;
                if (reply.isError())
                    openFolder(path);
            });
}

void FreedesktopFileManager::openFolder(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    Log::write(u"Tindrel: no file manager answers on D-Bus; opening "_s + folder +
               u" with xdg-open"_s);
    startDetached(u"xdg-open"_s, {folder});
}
