#pragma once

#include "platform/HotKeyService.h"

#include <QHash>
#include <QObject>

class GnomeShellExtension;

// Global shortcuts on GNOME, bound by our Shell extension the way the Shell
// binds its own: each key is grabbed on its own, so one another program
// holds is refused alone (through onLost) and the rest still work. Without
// the extension there are none, and the settings say how to turn it on.
class GnomeShellHotKeyService final : public QObject, public HotKeyService {
    Q_OBJECT
public:
    // Statuses given to onLost and returned by registerHotKey.
    enum Status { taken = 1, unavailable = 2, noKeyName = 3 };

    explicit GnomeShellHotKeyService(GnomeShellExtension& extension, QObject* parent = nullptr);
    ~GnomeShellHotKeyService() override;

    int registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) override;
    void unregisterHotKey(quint32 id) override;
    bool isAvailable() const override;
    QString problem() const override;
    QString statusText(int status) const override;

    // The key in GTK's accelerator notation ("<Control><Alt>v"); empty for
    // a keysym without a name.
    static QString accelerator(quint32 keysym, quint32 modifiers);

private:
    GnomeShellExtension& m_extension;
    // The accelerator asked for each live registration.
    QHash<quint32, QString> m_registrations;
    bool m_wasAvailable = false;
};
