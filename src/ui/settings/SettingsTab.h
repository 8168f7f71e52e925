#pragma once

#include "core/prefs/RawEnum.h"

#include <QSize>
#include <QString>

// The tabs of the settings window, in toolbar order. Stored by name under
// "lastSettingsTab".
enum class SettingsTab { general, history, shortcuts, sync, appearance, privacy, storage, about };

template <> struct RawEnumCases<SettingsTab> {
    static constexpr RawCase<SettingsTab> cases[] = {
        {SettingsTab::general, u"general"},       {SettingsTab::history, u"history"},
        {SettingsTab::shortcuts, u"shortcuts"},   {SettingsTab::sync, u"sync"},
        {SettingsTab::appearance, u"appearance"}, {SettingsTab::privacy, u"privacy"},
        {SettingsTab::storage, u"storage"},       {SettingsTab::about, u"about"},
    };
};

struct SettingsTabLook {
    QString title;  // toolbar label, tooltip and window title
    QString symbol; // icon name in resources/icons
    QSize size;     // the pane's content size
};

SettingsTabLook settingsTabLook(SettingsTab tab);
