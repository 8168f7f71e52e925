#pragma once

#include <QWidget>

// The warning under the search bar while pasting into other applications is
// not possible here: clicking a clip only copies it. Drawn in the warning
// colour whatever the theme, over a divider.
class PastingBanner : public QWidget {
    Q_OBJECT
public:
    explicit PastingBanner(QWidget* parent = nullptr);

Q_SIGNALS:
    // "Enable…" was pressed.
    void explainRequested();
};
