#include "support/TempXdg.h"

namespace {
constexpr const char* kVariables[3] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"};
constexpr const char* kFolders[3] = {"config", "data", "state"};
} // namespace

TempXdg::TempXdg() {
    for (int i = 0; i < 3; ++i) {
        m_had[i] = qEnvironmentVariableIsSet(kVariables[i]);
        m_saved[i] = qgetenv(kVariables[i]);
        qputenv(kVariables[i], m_dir.filePath(QString::fromLatin1(kFolders[i])).toUtf8());
    }
}

TempXdg::~TempXdg() {
    for (int i = 0; i < 3; ++i) {
        if (m_had[i])
            qputenv(kVariables[i], m_saved[i]);
        else
            qunsetenv(kVariables[i]);
    }
}
