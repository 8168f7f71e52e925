#pragma once

#include <QWidget>

class ClipStore;
class Preferences;

// How much history to keep and show, what gets captured, and how often the
// clipboard is checked.
class HistoryPane : public QWidget {
    Q_OBJECT
public:
    // `clipboardPolls`: whether the period the clipboard is read at is worth
    // a setting here.
    HistoryPane(Preferences& prefs, ClipStore& store, bool clipboardPolls = true,
                QWidget* parent = nullptr);
};
