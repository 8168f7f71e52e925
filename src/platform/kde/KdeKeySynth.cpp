#include "platform/kde/KdeKeySynth.h"

#include "platform/Workspace.h"

KdeKeySynth::KdeKeySynth(KeySynth& xtest, Workspace& xwayland, KeySynth& portal)
    : m_xtest(xtest), m_xwayland(xwayland), m_portal(portal) {}

bool KdeKeySynth::sendChord(PasteChord chord) {
    if (m_xwayland.frontmost())
        return m_xtest.sendChord(chord);
    return m_portal.sendChord(chord);
}
