#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// The per-user key-value settings store. Values read back may come as strings
// (the INI backend keeps no types), so readers convert and validate.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored value, or an invalid QVariant when the key was never assigned.
    virtual QVariant value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual void remove(const QString& key) = 0;
    virtual bool contains(const QString& key) const = 0;
    // Flushes to durable storage; used after writes that must survive a crash.
    virtual void sync() = 0;

    // Defaults live in memory only and are never written until assigned.
    void registerDefaults(const QVariantMap& defaults) {
        for (auto it = defaults.begin(); it != defaults.end(); ++it)
            m_defaults.insert(it.key(), it.value());
    }
    QVariant registeredDefault(const QString& key) const { return m_defaults.value(key); }
    QVariant valueOrDefault(const QString& key) const {
        return contains(key) ? value(key) : m_defaults.value(key);
    }

private:
    QVariantMap m_defaults;
};
