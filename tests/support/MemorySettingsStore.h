#pragma once

#include "platform/SettingsStore.h"

// Settings kept in memory, with the stored map open to tests.
class MemorySettingsStore final : public SettingsStore {
public:
    QVariant value(const QString& key) const override { return values.value(key); }
    void setValue(const QString& key, const QVariant& value) override {
        values.insert(key, value);
        ++writes;
    }
    void remove(const QString& key) override { values.remove(key); }
    bool contains(const QString& key) const override { return values.contains(key); }
    void sync() override { ++syncs; }

    QVariantMap values;
    int writes = 0;
    int syncs = 0;
};
