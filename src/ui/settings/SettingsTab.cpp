#include "ui/settings/SettingsTab.h"

using namespace Qt::StringLiterals;

// In the order of the enumeration. Sized so each pane's rows fit without
// scrolling in the usual desktop fonts.
SettingsTabLook settingsTabLook(SettingsTab tab) {
    static const SettingsTabLook looks[] = {
        {u"General"_s, u"gearshape"_s, {540, 380}},
        {u"History"_s, u"clock.arrow.circlepath"_s, {540, 500}},
        {u"Shortcuts"_s, u"keyboard"_s, {540, 480}},
        {u"Sync"_s, u"antenna.radiowaves.left.and.right"_s, {560, 640}},
        {u"Appearance"_s, u"paintbrush"_s, {540, 430}},
        {u"Privacy"_s, u"hand.raised"_s, {540, 490}},
        {u"Storage"_s, u"internaldrive"_s, {540, 440}},
        {u"About"_s, u"info.circle"_s, {540, 360}},
    };
    static_assert(std::size(looks) == std::size(RawEnumCases<SettingsTab>::cases));
    return looks[int(tab)];
}
