#include "KdeSession.h"

using namespace Qt::StringLiterals;

DesktopSession readKdeSession() {
    return DesktopSession::read(QStringLiteral(TINDREL_KDE_ENV_FILE),
                                u"the headless KWin fixture has not run"_s,
                                {{u"XDG_CURRENT_DESKTOP"_s, u"KDE"_s},
                                 {u"KDE_SESSION_VERSION"_s, u"5"_s},
                                 {u"KDE_FULL_SESSION"_s, u"true"_s}});
}
