#pragma once

#include <QWidget>
#include <functional>

class ClipStore;
class Preferences;

// Name, version and what Tindrel is; resetting every setting.
class AboutPane : public QWidget {
    Q_OBJECT
public:
    AboutPane(Preferences& prefs, ClipStore& store, QWidget* parent = nullptr);

    // Asks before a reset; the desktop's alert by default. Tests replace it.
    std::function<bool()> confirmReset;
    void resetAll();

    // "Version 0.1.0".
    static QString versionText(const QString& version);

private:
    Preferences& m_prefs;
    ClipStore& m_store;
};
