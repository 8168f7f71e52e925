#include "ui/settings/GeneralPane.h"

#include "core/prefs/Preferences.h"
#include "ui/settings/Hint.h"
#include "ui/settings/PaneForm.h"

using namespace Qt::StringLiterals;

GeneralPane::GeneralPane(Preferences& prefs, QWidget* parent) : QWidget(parent) {
    PaneForm form(this, prefs);

    QFormLayout* start = form.section({});
    form.toggle(start, u"Launch Tindrel at login"_s, &Preferences::launchAtLogin,
                &Preferences::setLaunchAtLogin, &Preferences::launchAtLoginChanged);
    Hint* loginError = form.hint(start);
    const auto showLoginError = [&prefs, loginError] {
        loginError->setText(u"Couldn't update login item: "_s + prefs.launchAtLoginError());
    };
    showLoginError();
    connect(&prefs, &Preferences::launchAtLoginErrorChanged, loginError, showLoginError);
    form.showWhile(start, loginError, [&prefs] { return !prefs.launchAtLoginError().isEmpty(); },
                   {&Preferences::launchAtLoginErrorChanged});

    QFormLayout* pasting = form.section(u"Pasting"_s);
    form.toggle(pasting, u"Paste immediately when a clip is clicked"_s, &Preferences::pasteOnClick,
                &Preferences::setPasteOnClick, &Preferences::pasteOnClickChanged);
    Hint* pasteHint = form.hint(pasting);
    const auto showPasteHint = [&prefs, pasteHint] {
        pasteHint->setText(prefs.pasteOnClick()
                               ? u"Tindrel returns focus to your previous app and presses Ctrl+V. "
                                 "This works in X11 sessions; under Wayland, clicking only "
                                 "copies."_s
                               : u"Clicking only copies to the clipboard — you press Ctrl+V "
                                 "yourself."_s);
    };
    showPasteHint();
    connect(&prefs, &Preferences::pasteOnClickChanged, pasteHint, showPasteHint);

    form.toggle(pasting, u"Close the panel after pasting"_s, &Preferences::closeAfterPaste,
                &Preferences::setCloseAfterPaste, &Preferences::closeAfterPasteChanged);
    Hint* keptOpen = form.hint(
        pasting, u"With the panel kept open, clicking only copies — pasting requires handing "
                 "focus back to the other app. Useful for collecting several clips in a row."_s);
    form.showWhile(pasting, keptOpen, [&prefs] { return !prefs.closeAfterPaste(); },
                   {&Preferences::closeAfterPasteChanged});
    form.toggle(pasting, u"Move pasted clips back to the top of history"_s,
                &Preferences::moveToTopOnPaste, &Preferences::setMoveToTopOnPaste,
                &Preferences::moveToTopOnPasteChanged);

    QFormLayout* safety = form.section(u"Safety"_s);
    form.toggle(safety, u"Ask before clearing history"_s, &Preferences::confirmClear,
                &Preferences::setConfirmClear, &Preferences::confirmClearChanged);
    form.finish();
}
