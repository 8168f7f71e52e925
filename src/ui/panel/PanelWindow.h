#pragma once

#include <QWidget>

// The clip panel's top-level window: frameless, above other windows, out of
// the taskbar, drawn as a rounded card. With a compositor the card is
// translucent; without one it is opaque and the corners are cut by a mask.
class PanelWindow : public QWidget {
    Q_OBJECT
public:
    explicit PanelWindow(QWidget* parent = nullptr);

    void setContent(QWidget* content);
    void setTranslucent(bool translucent);
    bool isTranslucent() const { return m_translucent; }

    void forgetActivation() { m_wasActive = false; }

    static constexpr qreal cornerRadius = 10.0;

Q_SIGNALS:
    // The window stopped being the active one (a click elsewhere), once it
    // had been active since the last forgetActivation().
    void deactivated();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateMask();

    bool m_translucent = false;
    bool m_wasActive = false;
};
