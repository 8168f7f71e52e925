#include "core/prefs/AppTheme.h"
#include "core/prefs/MenuBarIconStyle.h"
#include "core/prefs/PanelWidthOption.h"
#include "core/prefs/PinnedShortcutModifier.h"
#include "core/prefs/RowDensity.h"
#include "support/QtPrinters.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
// The stored names in order, and every name reading back as its own case.
template <typename E> QStringList namesRoundTripped() {
    QStringList names;
    for (const RawCase<E>& c : allCases<E>()) {
        const QString name = rawValue(c.value);
        EXPECT_EQ(fromRawValue<E>(name), c.value) << name.toStdString();
        names.append(name);
    }
    return names;
}
} // namespace

// These names are in settings files and must never change.
TEST(OptionEnums, StoreTheirCaseNames) {
    EXPECT_EQ(namesRoundTripped<MenuBarIconStyle>(),
              (QStringList{u"clipboard"_s, u"pin"_s, u"scissors"_s, u"tray"_s}));
    EXPECT_EQ(namesRoundTripped<AppTheme>(), (QStringList{u"system"_s, u"light"_s, u"dark"_s}));
    EXPECT_EQ(namesRoundTripped<RowDensity>(),
              (QStringList{u"compact"_s, u"standard"_s, u"roomy"_s}));
    EXPECT_EQ(namesRoundTripped<PanelWidthOption>(),
              (QStringList{u"narrow"_s, u"standard"_s, u"wide"_s}));
    EXPECT_EQ(namesRoundTripped<PinnedShortcutModifier>(),
              (QStringList{u"disabled"_s, u"controlOption"_s, u"commandShift"_s,
                           u"commandControl"_s, u"controlShift"_s}));
    EXPECT_FALSE(fromRawValue<AppTheme>(u"System"));
    EXPECT_FALSE(fromRawValue<AppTheme>(u""));
}

TEST(OptionEnums, PinnedShortcutModifiersGiveTheirMaskAndLabel) {
    struct Case {
        PinnedShortcutModifier modifier;
        quint32 mask;
        const char16_t* label;
    };
    const Case cases[] = {
        {PinnedShortcutModifier::disabled, 0, u"Off"},
        {PinnedShortcutModifier::altSuper, 6144, u"Alt+Super+"},
        {PinnedShortcutModifier::ctrlShift, 768, u"Ctrl+Shift+"},
        {PinnedShortcutModifier::ctrlSuper, 4352, u"Ctrl+Super+"},
        {PinnedShortcutModifier::shiftSuper, 4608, u"Shift+Super+"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(modifierMask(c.modifier), c.mask) << c.mask;
        EXPECT_EQ(modifierLabel(c.modifier), QString::fromUtf16(c.label)) << c.mask;
    }
}

TEST(OptionEnums, CasesCarryTheirMetrics) {
    EXPECT_EQ(symbolName(MenuBarIconStyle::clipboard), u"doc.on.clipboard"_s);
    EXPECT_EQ(symbolName(MenuBarIconStyle::tray), u"tray.full"_s);
    EXPECT_EQ(symbolName(MenuBarIconStyle::scissors), u"scissors"_s);
    EXPECT_EQ(symbolName(MenuBarIconStyle::pin), u"pin"_s);
    const int heights[] = {rowHeight(RowDensity::compact), rowHeight(RowDensity::standard),
                           rowHeight(RowDensity::roomy)};
    const int sizes[] = {previewTextSize(RowDensity::compact),
                         previewTextSize(RowDensity::standard), previewTextSize(RowDensity::roomy)};
    EXPECT_EQ(std::vector<int>(std::begin(heights), std::end(heights)),
              (std::vector<int>{28, 34, 42}));
    EXPECT_EQ(std::vector<int>(std::begin(sizes), std::end(sizes)), (std::vector<int>{11, 12, 13}));
    EXPECT_EQ(presetWidth(PanelWidthOption::narrow), 320);
    EXPECT_EQ(presetWidth(PanelWidthOption::standard), 380);
    EXPECT_EQ(presetWidth(PanelWidthOption::wide), 460);
}
