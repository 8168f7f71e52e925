#include "ui/settings/GeneralPane.h"

#include "core/prefs/Preferences.h"
#include "platform/KeySynth.h"
#include "platform/Workspace.h"
#include "ui/settings/Hint.h"
#include "ui/settings/PaneForm.h"

using namespace Qt::StringLiterals;

QString GeneralPane::pastingHint(const Workspace* workspace, const KeySynth* keys) {
    const QString does = u"Tindrel returns focus to your previous app and presses Ctrl+V."_s;
    switch (keys ? keys->permission() : PastePermission::notNeeded) {
    case PastePermission::notNeeded:
        break;
    case PastePermission::notAsked:
    case PastePermission::asking:
    case PastePermission::granted:
        return does + u" Apps other than X11 ones need the desktop's permission for it (see "
                      "Privacy)."_s;
    case PastePermission::refused:
    case PastePermission::unavailable:
        return u"Tindrel returns focus to your previous app and presses Ctrl+V in X11 apps; in "
               "the others, clicking only copies."_s;
    }
    if (workspace && !workspace->isTrusted())
        return u"This desktop does not let Tindrel press Ctrl+V in other apps, so clicking only "
               "copies."_s;
    return does;
}

GeneralPane::GeneralPane(Preferences& prefs, Workspace* workspace, const KeySynth* keys,
                         QWidget* parent)
    : QWidget(parent) {
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
    const auto showPasteHint = [&prefs, pasteHint, workspace, keys] {
        pasteHint->setText(prefs.pasteOnClick() ? pastingHint(workspace, keys)
                                                : u"Clicking only copies to the clipboard — you "
                                                  "press Ctrl+V yourself."_s);
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
