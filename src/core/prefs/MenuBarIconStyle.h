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
    using namespace Qt::StringLiterals;
    switch (style) {
    case MenuBarIconStyle::clipboard:
        return u"doc.on.clipboard"_s;
    case MenuBarIconStyle::pin:
        return u"pin"_s;
    case MenuBarIconStyle::scissors:
        return u"scissors"_s;
    case MenuBarIconStyle::tray:
        return u"tray.full"_s;
    }
    return u"doc.on.clipboard"_s;
}
