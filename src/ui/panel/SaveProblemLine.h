#pragma once

#include <QLabel>

class ClipStore;

// A line above the panel's footer while the clips cannot be saved: the
// store keeps them in memory and retries, but the user should know that a
// crash would lose them. Hidden again once a save succeeds.
class SaveProblemLine : public QLabel {
    Q_OBJECT
public:
    explicit SaveProblemLine(ClipStore& store, QWidget* parent = nullptr);

    // The text shown for a save error.
    static QString describe(const QString& error);

private:
    void refresh();

    ClipStore& m_store;
};
