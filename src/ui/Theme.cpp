#include "ui/Theme.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

using namespace Qt::StringLiterals;

Theme::SystemLook Theme::capture() {
    return {QApplication::style()->name(), QApplication::palette()};
}

void Theme::apply(AppTheme theme, const SystemLook& system) {
    switch (theme) {
    case AppTheme::system:
        QApplication::setStyle(system.style);
        QApplication::setPalette(system.palette);
        break;
    case AppTheme::light:
        QApplication::setStyle(QStyleFactory::create(u"Fusion"_s));
        QApplication::setPalette(QApplication::style()->standardPalette());
        break;
    case AppTheme::dark:
        QApplication::setStyle(QStyleFactory::create(u"Fusion"_s));
        QApplication::setPalette(darkPalette());
        break;
    }
}

QPalette Theme::darkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2e);
    const QColor base(0x1f, 0x1f, 0x22);
    const QColor text(0xec, 0xec, 0xee);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x7e, 0xff));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x5e, 0x9b, 0xff));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x7a, 0x7a, 0x7f));
    return p;
}

QColor Theme::connectedGreen() {
    return QColor(0x30, 0xb0, 0x50);
}
