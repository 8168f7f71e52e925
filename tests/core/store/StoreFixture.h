#pragma once

#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"
#include "support/TempXdg.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

inline void PrintTo(const Instant& at, std::ostream* out) {
    *out << std::to_string(at.sinceReference) << " s since 2001";
}

// A store on a fake clock and in-memory preferences, its file in a fresh
// temporary data folder that does not exist until the first save.
class StoreFixture : public ::testing::Test {
protected:
    StoreFixture() : prefs(settings) {}

    ClipStore& openStore() {
        store = std::make_unique<ClipStore>(prefs, clock, storePath);
        pinsChangedCalls = 0;
        QObject::connect(store.get(), &ClipStore::localPinsChanged, store.get(),
                         [this] { ++pinsChangedCalls; });
        return *store;
    }

    // A new store on a missing file.
    ClipStore& openEmptyStore() {
        QFile::remove(storePath);
        return openStore();
    }

    // Records a text and returns the clip it became.
    Clip add(const QString& text) {
        store->record(text);
        return store->history().first();
    }
    Clip addPin(const QString& text) {
        const Clip clip = add(text);
        EXPECT_TRUE(store->pin(clip));
        return store->pinned().first();
    }

    using Texts = std::vector<std::string>;
    static Texts texts(const QList<Clip>& clips) {
        Texts out;
        for (const Clip& clip : clips)
            out.push_back(clip.text().toStdString());
        return out;
    }

    static QJsonObject clipJson(const QString& text, double createdAt,
                                std::optional<double> pinnedAt = std::nullopt) {
        QJsonObject object =
            Clip(QUuid::createUuid(), text, Instant::fromReference(createdAt)).toJson();
        if (pinnedAt)
            object.insert(u"pinnedAt"_s, *pinnedAt);
        return object;
    }

    static QByteArray fileWith(const QJsonArray& history, const QJsonArray& pinned,
                               const QJsonObject& unpinned = {}) {
        return QJsonDocument(QJsonObject{{u"history"_s, history},
                                         {u"pinned"_s, pinned},
                                         {u"unpinned"_s, unpinned}})
            .toJson();
    }

    static void writeFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(bytes);
    }

    static QByteArray readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TempXdg xdg;
    MemorySettingsStore settings;
    Preferences prefs;
    FakeClock clock;
    LogCapture log;
    QString storePath = xdg.path(u"data/Tindrel/store.json"_s);
    std::unique_ptr<ClipStore> store;
    int pinsChangedCalls = 0;
};
