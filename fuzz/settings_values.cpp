// A settings file written by hand or damaged: every reader of it (the
// preferences, this device's identity, the paired devices) must come up.
#include "FuzzSupport.h"
#include "core/prefs/Preferences.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncPeerStore.h"
#include "platform/xdg/IniSettingsStore.h"
#include "support/FakeClock.h"

#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startQtForFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    static FakeClock clock;
    const QString path = dir.filePath(u"Tindrel.conf"_s);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(fuzzBytes(data, size));
    }
    IniSettingsStore settings(path);
    Preferences prefs(settings);
    (void)prefs.resolvedPanelWidth();
    SyncIdentity identity(settings, u"Fuzz"_s);
    (void)identity.deviceKey();
    SyncPeerStore peers(settings, clock);
    (void)peers.peers();
    return 0;
}
