#pragma once

#include "platform/SettingsStore.h"

#include <QSettings>

// Settings in an INI file (by default $XDG_CONFIG_HOME/Tindrel/Tindrel.conf).
// The file holds the device key, so it is kept at mode 0600.
class IniSettingsStore final : public SettingsStore {
public:
    explicit IniSettingsStore(const QString& path);
    ~IniSettingsStore() override;

    QVariant value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;
    bool contains(const QString& key) const override;
    void sync() override;

    QString path() const { return m_path; }

private:
    void restrictPermissions();

    QString m_path;
    QSettings m_settings;
};
