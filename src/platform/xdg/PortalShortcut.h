#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

// One entry of the global-shortcuts portal's shortcut lists, D-Bus type
// (sa{sv}): the shortcut's id and its properties ("description",
// "preferred_trigger" going out; "trigger_description" coming back).
struct PortalShortcut {
    QString id;
    QVariantMap properties;

    // Makes the type and lists of it known to Qt's D-Bus marshalling; cheap
    // to call again.
    static void registerType();
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

Q_DECLARE_METATYPE(PortalShortcut)
