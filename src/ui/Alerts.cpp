#include "ui/Alerts.h"

#include <QMessageBox>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {
// A tray program has no window in front; the dialog must come up on top and
// take the keyboard, or it would open behind whatever the user works in.
void bringToFront(QMessageBox& box) {
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.show();
    box.raise();
    box.activateWindow();
}
} // namespace

bool Alerts::confirmClearHistory(const QString& message, const QString& detail) {
    QMessageBox box(QMessageBox::Warning, u"Tindrel"_s, message);
    box.setInformativeText(detail);
    box.setTextFormat(Qt::PlainText);
    QPushButton* clear = box.addButton(u"Clear"_s, QMessageBox::AcceptRole);
    box.addButton(u"Cancel"_s, QMessageBox::RejectRole);
    box.setDefaultButton(clear);
    bringToFront(box);
    box.exec();
    return box.clickedButton() == clear;
}

void Alerts::explainPasting() {
    QMessageBox box(QMessageBox::Information, u"Tindrel"_s,
                    u"Tindrel cannot paste for you in this session"_s);
    box.setInformativeText(
        u"This desktop does not let Tindrel press Ctrl+V in the window in front: Wayland "
        "desktops allow it only through a virtual keyboard or the desktop's remote control, "
        "and the desktop offers neither or was told not to allow it (Settings › Privacy says "
        "which). Clicking a clip still copies it, so you can paste it yourself."_s);
    bringToFront(box);
    box.exec();
}
