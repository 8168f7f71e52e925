#pragma once

#include <QWidget>

class Preferences;

// The tray icon and the panel's look.
class AppearancePane : public QWidget {
    Q_OBJECT
public:
    explicit AppearancePane(Preferences& prefs, QWidget* parent = nullptr);
};
