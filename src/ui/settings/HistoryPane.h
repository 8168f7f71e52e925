#pragma once

#include <QWidget>

class ClipStore;
class Preferences;

// How much history to keep and show, what gets captured, and how often the
// clipboard is checked.
class HistoryPane : public QWidget {
    Q_OBJECT
public:
    HistoryPane(Preferences& prefs, ClipStore& store, QWidget* parent = nullptr);
};
