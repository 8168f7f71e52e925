#pragma once

#include <QWidget>

// The one-pixel line between the panel's parts, in the text colour at low
// opacity; drawn from the palette at paint time, so themes need no recolouring.
class PanelDivider : public QWidget {
    Q_OBJECT
public:
    explicit PanelDivider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
