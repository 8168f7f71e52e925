#pragma once

#include "core/prefs/RawEnum.h"

enum class RowDensity { compact, standard, roomy };

template <> struct RawEnumCases<RowDensity> {
    static constexpr RawCase<RowDensity> cases[] = {
        {RowDensity::compact, u"compact"},
        {RowDensity::standard, u"standard"},
        {RowDensity::roomy, u"roomy"},
    };
};

// Row height and preview text size of the panel, in points.
constexpr int rowHeight(RowDensity density) {
    switch (density) {
    case RowDensity::compact:
        return 28;
    case RowDensity::standard:
        return 34;
    case RowDensity::roomy:
        return 42;
    }
    return 34;
}

constexpr int previewTextSize(RowDensity density) {
    switch (density) {
    case RowDensity::compact:
        return 11;
    case RowDensity::standard:
        return 12;
    case RowDensity::roomy:
        return 13;
    }
    return 12;
}
