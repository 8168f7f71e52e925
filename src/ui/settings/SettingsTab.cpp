#include "ui/settings/SettingsTab.h"

using namespace Qt::StringLiterals;

// Sized so each pane's rows fit without scrolling in the usual desktop fonts.
SettingsTabLook settingsTabLook(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::general:
        return {u"General"_s, u"gearshape"_s, {540, 380}};
    case SettingsTab::history:
        return {u"History"_s, u"clock.arrow.circlepath"_s, {540, 500}};
    case SettingsTab::shortcuts:
        return {u"Shortcuts"_s, u"keyboard"_s, {540, 480}};
    case SettingsTab::sync:
        return {u"Sync"_s, u"antenna.radiowaves.left.and.right"_s, {560, 640}};
    case SettingsTab::appearance:
        return {u"Appearance"_s, u"paintbrush"_s, {540, 430}};
    case SettingsTab::privacy:
        return {u"Privacy"_s, u"hand.raised"_s, {540, 490}};
    case SettingsTab::storage:
        return {u"Storage"_s, u"internaldrive"_s, {540, 440}};
    case SettingsTab::about:
        return {u"About"_s, u"info.circle"_s, {540, 360}};
    }
    return {};
}
