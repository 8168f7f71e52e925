#include "platform/wayland/SplitKeySynth.h"

#include "platform/Workspace.h"

SplitKeySynth::SplitKeySynth(KeySynth& xtest, Workspace& xwayland, KeySynth& portal)
    : m_xtest(xtest), m_xwayland(xwayland), m_portal(portal) {
    // Its permission is the portal's.
    m_portal.onPermissionChanged = [this] {
        if (onPermissionChanged)
            onPermissionChanged();
    };
}

SplitKeySynth::~SplitKeySynth() {
    m_portal.onPermissionChanged = nullptr;
}

bool SplitKeySynth::sendChord(PasteChord chord) {
    if (m_xwayland.frontmost())
        return m_xtest.sendChord(chord);
    return m_portal.sendChord(chord);
}
