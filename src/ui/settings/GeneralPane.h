#pragma once

#include <QWidget>

class Preferences;

// Login item, what clicking a clip does, and the clearing confirmation.
class GeneralPane : public QWidget {
    Q_OBJECT
public:
    explicit GeneralPane(Preferences& prefs, QWidget* parent = nullptr);
};
