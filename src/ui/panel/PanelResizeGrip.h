#pragma once

#include <QPoint>
#include <QSizeF>
#include <QWidget>
#include <functional>

// The handle at the end of the footer that resizes the panel. It only tracks
// the pointer and reports; the panel controller does the arithmetic.
class PanelResizeGrip : public QWidget {
    Q_OBJECT
public:
    explicit PanelResizeGrip(QWidget* parent = nullptr);

    std::function<QSizeF()> begin;
    std::function<void(QSizeF start, QSizeF translation)> update;
    std::function<void()> end;

    QSize sizeHint() const override { return {36, 36}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void finishDrag();
    QSizeF m_start; // empty while no drag runs
    QPointF m_pressGlobal;
    bool m_pressed = false;
    bool m_hovering = false;
};
