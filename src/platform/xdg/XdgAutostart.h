#pragma once

#include "platform/LoginItem.h"

#include <QString>

// Starting at login through an XDG autostart entry. The entry counts as
// enabled while it exists and is not marked Hidden=true, which is how desktop
// settings tools switch an entry off without deleting it.
class XdgAutostart final : public LoginItem {
public:
    // entryPath: where the entry lives; program: what it starts.
    XdgAutostart(QString entryPath, QString program);
    // The entry under $XDG_CONFIG_HOME/autostart, starting this executable.
    XdgAutostart();

    static QString defaultEntryPath();
    // The Exec value that starts program with no arguments, quoted and
    // escaped as desktop entries require.
    static QString execValue(const QString& program);

    bool isEnabled() const override;
    std::optional<QString> setEnabled(bool enabled) override;

private:
    QString m_entryPath;
    QString m_program;
};
