#include "PanelFixture.h"
#include "ui/Theme.h"
#include "ui/panel/PanelColors.h"

#include <QLabel>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {
QColor buttonText(const ContentView& content, const QString& text) {
    for (const QToolButton* button : content.findChildren<QToolButton*>())
        if (button->text() == text)
            return button->palette().color(QPalette::ButtonText);
    return {};
}
} // namespace

// Each part of the panel derives its colours from the palette; a theme switch
// while the panel exists must reach all of them, not only the list.
TEST_F(PanelFixture, AThemeSwitchRecoloursEveryPartOfThePanel) {
    open();
    const Theme::SystemLook desktop = Theme::capture();
    for (AppTheme theme : {AppTheme::dark, AppTheme::light}) {
        SCOPED_TRACE(static_cast<int>(theme));
        Theme::apply(theme, desktop);
        QCoreApplication::processEvents();
        const QColor secondary = PanelColors::secondary(content().palette());
        EXPECT_EQ(buttonText(content(), u"Quit"_s), secondary);
        EXPECT_EQ(buttonText(content(), u"Clear History"_s), secondary);
        const auto labels = content().emptyState()->findChildren<QLabel*>();
        ASSERT_FALSE(labels.isEmpty());
        EXPECT_EQ(labels.back()->palette().color(QPalette::WindowText), secondary);
    }
    Theme::apply(AppTheme::system, desktop);
}
