#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

// A QR code of a text on a white rounded card. The code is rendered for the
// screen's own pixels and drawn without interpolation, so its modules stay
// sharp at any scale factor.
class QRView : public QWidget {
    Q_OBJECT
public:
    static constexpr int side = 148; // logical pixels of the code itself

    explicit QRView(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return m_text; }
    // The code as drawn at this device-pixel ratio; null when there is no
    // text or it does not fit a QR code.
    QImage image(qreal devicePixelRatio) const;
    bool hasImage() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    mutable QImage m_cached;
};
