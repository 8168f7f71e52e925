#pragma once

#include <QWidget>

class KeySynth;
class Preferences;
class Workspace;

// Login item, what clicking a clip does, and the clearing confirmation.
class GeneralPane : public QWidget {
    Q_OBJECT
public:
    // `workspace` and `keys` say whether and where this desktop lets us
    // paste; without them the hint makes no claim about it.
    explicit GeneralPane(Preferences& prefs, Workspace* workspace = nullptr,
                         const KeySynth* keys = nullptr, QWidget* parent = nullptr);

    // What pasting on a click does here, in words for the hint.
    static QString pastingHint(const Workspace* workspace, const KeySynth* keys);
};
