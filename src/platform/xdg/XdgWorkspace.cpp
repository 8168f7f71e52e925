#include "platform/xdg/XdgWorkspace.h"

#include <QDesktopServices>

bool XdgWorkspace::openUrl(const QUrl& url) {
    return url.isValid() && QDesktopServices::openUrl(url);
}
