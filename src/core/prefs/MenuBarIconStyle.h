#pragma once

#include "core/prefs/RawEnum.h"

// The tray icon's symbol; while tracking is paused ".fill" is appended.
enum class MenuBarIconStyle { clipboard, pin, scissors, tray };

template <> struct RawEnumCases<MenuBarIconStyle> {
    static constexpr RawCase<MenuBarIconStyle> cases[] = {
        {MenuBarIconStyle::clipboard, u"clipboard"},
        {MenuBarIconStyle::pin, u"pin"},
        {MenuBarIconStyle::scissors, u"scissors"},
        {MenuBarIconStyle::tray, u"tray"},
    };
};

inline QString symbolName(MenuBarIconStyle style) {
    switch (style) {
    case MenuBarIconStyle::clipboard:
        return QStringLiteral("doc.on.clipboard");
    case MenuBarIconStyle::pin:
        return QStringLiteral("pin");
    case MenuBarIconStyle::scissors:
        return QStringLiteral("scissors");
    case MenuBarIconStyle::tray:
        return QStringLiteral("tray.full");
    }
    return QStringLiteral("doc.on.clipboard");
}
