#include "ui/settings/AppearancePane.h"

#include "core/prefs/Preferences.h"
#include "ui/Symbols.h"
#include "ui/settings/Hint.h"
#include "ui/settings/PaneForm.h"

using namespace Qt::StringLiterals;

namespace {
QString iconName(MenuBarIconStyle style) {
    switch (style) {
    case MenuBarIconStyle::clipboard:
        return u"Clipboard"_s;
    case MenuBarIconStyle::pin:
        return u"Pin"_s;
    case MenuBarIconStyle::scissors:
        return u"Scissors"_s;
    case MenuBarIconStyle::tray:
        return u"Tray"_s;
    }
    return {};
}

QString themeName(AppTheme theme) {
    switch (theme) {
    case AppTheme::system:
        return u"Match System"_s;
    case AppTheme::light:
        return u"Light"_s;
    case AppTheme::dark:
        return u"Dark"_s;
    }
    return {};
}

QString widthName(PanelWidthOption option) {
    QString name;
    switch (option) {
    case PanelWidthOption::narrow:
        name = u"Narrow"_s;
        break;
    case PanelWidthOption::standard:
        name = u"Standard"_s;
        break;
    case PanelWidthOption::wide:
        name = u"Wide"_s;
        break;
    }
    return name + u" ("_s + QString::number(presetWidth(option)) + u"pt)"_s;
}

QString densityName(RowDensity density) {
    switch (density) {
    case RowDensity::compact:
        return u"Compact"_s;
    case RowDensity::standard:
        return u"Standard"_s;
    case RowDensity::roomy:
        return u"Roomy"_s;
    }
    return {};
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
