#pragma once

#include "core/prefs/RawEnum.h"

// system follows the desktop's appearance; light and dark force one.
enum class AppTheme { system, light, dark };

template <> struct RawEnumCases<AppTheme> {
    static constexpr RawCase<AppTheme> cases[] = {
        {AppTheme::system, u"system"},
        {AppTheme::light, u"light"},
        {AppTheme::dark, u"dark"},
    };
};
