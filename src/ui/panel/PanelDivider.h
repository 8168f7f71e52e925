#pragma once

#include <QWidget>

// The one-pixel line between the panel's parts, in the text colour at low
// opacity; drawn from the palette at paint time, so themes need no recolouring.
class PanelDivider : public QWidget {
    Q_OBJECT
public:
    explicit PanelDivider(QWidget* parent = nullptr);

    // Lays `bar` out as all of `owner`, with a divider below it (or above).
    static void stack(QWidget* owner, QWidget* bar, Qt::Edge divider);

protected:
    void paintEvent(QPaintEvent* event) override;
};
