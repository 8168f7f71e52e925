#pragma once

#include <QtGlobal>

// Window-manager hints Qt has no API for, on Qt's own X connection.
namespace X11WindowHints {
// Keeps an unmapped window out of taskbars and pagers (_NET_WM_STATE
// SKIP_TASKBAR and SKIP_PAGER). Qt keeps these states when it maps the
// window later. Does nothing without X11.
void keepOutOfTaskbar(quintptr window);
} // namespace X11WindowHints
