#include "ui/settings/ShortcutRecorderView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

namespace {
// The bit a modifier key itself stands for, 0 for other keys.
quint32 modifierBit(int key) {
    switch (key) {
    case Qt::Key_Control:
        return KeyCombo::Ctrl;
    case Qt::Key_Shift:
        return KeyCombo::Shift;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return KeyCombo::Alt;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return KeyCombo::Super;
    default:
        return 0;
    }
}
} // namespace

ShortcutRecorderView::ShortcutRecorderView(QWidget* parent)
    : QWidget(parent), beep([] { QApplication::beep(); }) {
    setFocusPolicy(Qt::ClickFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ShortcutRecorderView::setCombo(const std::optional<KeyCombo>& combo) {
    m_combo = combo;
    setAccessibleName(text());
    update();
}

QString ShortcutRecorderView::text() const {
    if (m_recording)
        return m_liveModifiers ? KeyCombo::modifierSymbols(m_liveModifiers) : u"Type shortcut…"_s;
    return m_combo ? m_combo->displayString() : u"Click to record"_s;
}

QSize ShortcutRecorderView::sizeHint() const {
    // Room for the longest usual chord, "Ctrl+Alt+Shift+Super+PgDown".
    const QFontMetrics metrics(font());
    return {std::max(160, metrics.horizontalAdvance(u"Ctrl+Alt+Shift+Super+PgDown"_s) + 16),
            std::max(26, metrics.height() + 10)};
}

bool ShortcutRecorderView::event(QEvent* event) {
    if (m_recording) {
        // Chords that are shortcuts elsewhere in the window, and Tab, which
        // would move the focus, are the recorder's while it records.
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            keyPressEvent(static_cast<QKeyEvent*>(event));
            return true;
        }
    }
    return QWidget::event(event);
}

void ShortcutRecorderView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    if (!m_recording)
        startRecording();
}

void ShortcutRecorderView::startRecording() {
    m_recording = true;
    m_liveModifiers = 0;
    grabKeyboard();
    update();
    Q_EMIT recordingChanged(true);
}

void ShortcutRecorderView::stopRecording() {
    m_recording = false;
    m_liveModifiers = 0;
    releaseKeyboard();
    setAccessibleName(text());
    update();
    Q_EMIT recordingChanged(false);
}

void ShortcutRecorderView::finish() {
    stopRecording();
    clearFocus();
}

void ShortcutRecorderView::trackModifiers(const QKeyEvent& event, bool pressed) {
    // X reports the state before the event, so the key that changes it is
    // added or taken away by hand.
    quint32 mask = KeyCombo::maskFromQt(event.modifiers());
    if (const quint32 bit = modifierBit(event.key()))
        mask = pressed ? (mask | bit) : (mask & ~bit);
    m_liveModifiers = mask;
    update();
}

void ShortcutRecorderView::keyPressEvent(QKeyEvent* event) {
    if (!m_recording) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    const int key = event->key();
    if (modifierBit(key) != 0) {
        trackModifiers(*event, true);
        return;
    }
    if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
        m_combo.reset();
        Q_EMIT comboChanged(m_combo);
        finish();
        return;
    }
    if (key == Qt::Key_Escape) {
        finish();
        return;
    }
    const std::optional<KeyCombo> combo = KeyCombo::fromEvent(*event, baseKeysym);
    if (!combo) {
        if (beep)
            beep();
        return;
    }
    m_combo = combo;
    Q_EMIT comboChanged(m_combo);
    finish();
}

void ShortcutRecorderView::keyReleaseEvent(QKeyEvent* event) {
    if (!m_recording) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    event->accept();
    trackModifiers(*event, false);
}

void ShortcutRecorderView::focusOutEvent(QFocusEvent* event) {
    if (m_recording)
        stopRecording();
    QWidget::focusOutEvent(event);
}

void ShortcutRecorderView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QColor accent = pal.color(QPalette::Highlight);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath path;
    path.addRoundedRect(box, 5, 5);

    QColor fill = accent;
    fill.setAlphaF(0.12);
    p.fillPath(path, m_recording ? fill : pal.color(QPalette::Base));
    p.setPen(m_recording ? QPen(accent, 1.5) : QPen(pal.color(QPalette::Mid), 1));
    p.drawPath(path);

    QFont f = font();
    if (m_recording)
        f.setWeight(QFont::Medium);
    p.setFont(f);
    QColor ink = pal.color(QPalette::Text);
    if (m_recording)
        ink = accent;
    else if (!m_combo)
        ink = pal.color(QPalette::PlaceholderText);
    p.setPen(ink);
    p.drawText(box, Qt::AlignCenter, text());
}
