// A backup file imported into a store that already holds clips and pins.
#include "FuzzSupport.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "support/FakeClock.h"
#include "support/MemorySettingsStore.h"

#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startQtForFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    static MemorySettingsStore settings;
    static Preferences prefs(settings);
    static FakeClock clock;
    const QString backup = dir.filePath(u"backup.json"_s);
    {
        QFile file(backup);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(fuzzBytes(data, size));
    }
    // A fresh store each time, so that one input cannot shape the next.
    const QString storePath = dir.filePath(u"store.json"_s);
    QFile::remove(storePath);
    ClipStore store(prefs, clock, storePath);
    store.record(u"already here"_s);
    store.pin(store.history().first());
    store.record(u"and this"_s);
    (void)store.importClips(backup);
    (void)store.encoded();
    return 0;
}
