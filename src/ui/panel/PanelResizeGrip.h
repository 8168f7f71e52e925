#pragma once

#include <QPointF>
#include <QSizeF>
#include <QWidget>

// The handle at the end of the footer that resizes the panel. It only tracks
// the pointer and reports; the panel controller does the arithmetic.
class PanelResizeGrip : public QWidget {
    Q_OBJECT
public:
    explicit PanelResizeGrip(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {36, 36}; }

Q_SIGNALS:
    // A drag: it began, the pointer is `translation` away from where it was
    // pressed, it ended (released, or the panel closed under it).
    void resizeStarted();
    void resizeDragged(QSizeF translation);
    void resizeFinished();

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
    QPointF m_pressGlobal;
    bool m_pressed = false;
    bool m_dragging = false;
    bool m_hovering = false;
};
