#pragma once

#include "core/prefs/RawEnum.h"

enum class PanelWidthOption { narrow, standard, wide };

template <> struct RawEnumCases<PanelWidthOption> {
    static constexpr RawCase<PanelWidthOption> cases[] = {
        {PanelWidthOption::narrow, u"narrow"},
        {PanelWidthOption::standard, u"standard"},
        {PanelWidthOption::wide, u"wide"},
    };
};

// The preset panel width in points.
constexpr double presetWidth(PanelWidthOption option) {
    switch (option) {
    case PanelWidthOption::narrow:
        return 320;
    case PanelWidthOption::standard:
        return 380;
    case PanelWidthOption::wide:
        return 460;
    }
    return 380;
}
