#include "ui/settings/AppearancePane.h"

#include "core/prefs/Preferences.h"
#include "ui/Symbols.h"
#include "ui/settings/Hint.h"
#include "ui/settings/PaneForm.h"

using namespace Qt::StringLiterals;

namespace {
template <typename E> struct Named {
    E value;
    QString name;
};

template <typename E, std::size_t N> QString nameIn(const Named<E> (&names)[N], E value) {
    for (const Named<E>& n : names) {
        if (n.value == value)
            return n.name;
    }
    return {};
}

QString iconName(MenuBarIconStyle style) {
    static const Named<MenuBarIconStyle> names[] = {
        {MenuBarIconStyle::clipboard, u"Clipboard"_s},
        {MenuBarIconStyle::pin, u"Pin"_s},
        {MenuBarIconStyle::scissors, u"Scissors"_s},
        {MenuBarIconStyle::tray, u"Tray"_s},
    };
    return nameIn(names, style);
}

QString themeName(AppTheme theme) {
    static const Named<AppTheme> names[] = {
        {AppTheme::system, u"Match System"_s},
        {AppTheme::light, u"Light"_s},
        {AppTheme::dark, u"Dark"_s},
    };
    return nameIn(names, theme);
}

// "Narrow (320 px)": the name and the width it gives.
QString widthName(PanelWidthOption option) {
    static const Named<PanelWidthOption> names[] = {
        {PanelWidthOption::narrow, u"Narrow"_s},
        {PanelWidthOption::standard, u"Standard"_s},
        {PanelWidthOption::wide, u"Wide"_s},
    };
    return nameIn(names, option) + u" ("_s + QString::number(presetWidth(option)) + u" px)"_s;
}

QString densityName(RowDensity density) {
    static const Named<RowDensity> names[] = {
        {RowDensity::compact, u"Compact"_s},
        {RowDensity::standard, u"Standard"_s},
        {RowDensity::roomy, u"Roomy"_s},
    };
    return nameIn(names, density);
}
} // namespace

AppearancePane::AppearancePane(Preferences& prefs, QWidget* parent) : QWidget(parent) {
    PaneForm form(this, prefs);

    QFormLayout* tray = form.section(u"System tray"_s);
    form.toggle(tray, u"Show icon in the system tray"_s, &Preferences::showMenuBarIcon,
                &Preferences::setShowMenuBarIcon, &Preferences::showMenuBarIconChanged);
    Hint* hidden = form.hint(tray, u"With the icon hidden, your Open Tindrel shortcut is the only "
                                   "way in — make sure it's set."_s);
    form.showWhile(tray, hidden, [&prefs] { return !prefs.showMenuBarIcon(); },
                   {&Preferences::showMenuBarIconChanged});
    QComboBox* icon = form.picker<MenuBarIconStyle>(tray, u"Icon"_s, &Preferences::menuBarIcon,
                                                    &Preferences::setMenuBarIcon,
                                                    &Preferences::menuBarIconChanged, iconName);
    const auto paintIcons = [icon] {
        const QColor ink = icon->palette().color(QPalette::ButtonText);
        for (int i = 0; i < icon->count(); ++i) {
            const auto style = fromRawValue<MenuBarIconStyle>(icon->itemData(i).toString());
            icon->setItemIcon(i, Symbols::tintedIcon(symbolName(*style), ink, 16));
        }
    };
    paintIcons();
    connect(&prefs, &Preferences::themeChanged, icon, paintIcons);

    QFormLayout* panel = form.section(u"Panel"_s);
    form.picker<AppTheme>(panel, u"Theme"_s, &Preferences::theme, &Preferences::setTheme,
                          &Preferences::themeChanged, themeName);
    QComboBox* width = form.picker<PanelWidthOption>(panel, u"Width"_s, &Preferences::panelWidth,
                                                     &Preferences::setPanelWidth,
                                                     &Preferences::panelWidthChanged, widthName);
    // Choosing a preset, even the current one, undoes a width dragged with
    // the grip.
    connect(width, &QComboBox::activated, width, [&prefs] { prefs.setPanelCustomWidth(0); });
    form.hint(panel, u"Drag the grip in the panel’s bottom-right corner to resize. The size is "
                     "remembered."_s);
    form.picker<RowDensity>(panel, u"Row density"_s, &Preferences::rowDensity,
                            &Preferences::setRowDensity, &Preferences::rowDensityChanged,
                            densityName);

    QFormLayout* details = form.section(u"Details"_s);
    form.toggle(details, u"Show search field"_s, &Preferences::showSearchField,
                &Preferences::setShowSearchField, &Preferences::showSearchFieldChanged);
    form.toggle(details, u"Show multi-line badge (+3)"_s, &Preferences::showLineBadge,
                &Preferences::setShowLineBadge, &Preferences::showLineBadgeChanged);
    form.toggle(details, u"Show shortcut hints on pinned rows"_s, &Preferences::showShortcutHints,
                &Preferences::setShowShortcutHints, &Preferences::showShortcutHintsChanged);
    form.finish();
}
