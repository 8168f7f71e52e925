#pragma once

#include "platform/FileManager.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <functional>

// Reveals files through org.freedesktop.FileManager1 on the session bus
// (Nautilus, Dolphin, Nemo, Caja, Thunar...). Where no file manager answers
// there, the folder is opened with xdg-open instead, without the selection.
class FreedesktopFileManager : public QObject, public FileManager {
    Q_OBJECT
public:
    // On the session bus unless given another.
    explicit FreedesktopFileManager(QObject* parent = nullptr);
    explicit FreedesktopFileManager(const QDBusConnection& bus, QObject* parent = nullptr);

    void reveal(const QString& path) override;

    // Starts the fallback; by default xdg-open, detached. Tests replace it.
    std::function<void(const QString& program, const QStringList& arguments)> startDetached;

private:
    void openFolder(const QString& path);

    QDBusConnection m_bus;
};
