#include "ui/Theme.h"
#include "support/QtPrinters.h"

#include <QApplication>
#include <QStyle>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(Theme, LightAndDarkForceALookAndSystemRestoresTheDesktopsOwn) {
    const Theme::SystemLook desktop = Theme::capture();

    Theme::apply(AppTheme::dark, desktop);
    EXPECT_LT(QApplication::palette().color(QPalette::Window).lightness(), 80);
    EXPECT_GT(QApplication::palette().color(QPalette::WindowText).lightness(), 200);
    EXPECT_EQ(QApplication::style()->name(), u"fusion"_s);

    Theme::apply(AppTheme::light, desktop);
    EXPECT_GT(QApplication::palette().color(QPalette::Window).lightness(), 180);
    EXPECT_LT(QApplication::palette().color(QPalette::WindowText).lightness(), 80);

    Theme::apply(AppTheme::system, desktop);
    EXPECT_EQ(QApplication::palette(), desktop.palette);
    EXPECT_EQ(QApplication::style()->name(), desktop.style);
}
