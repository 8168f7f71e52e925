#pragma once

#include "PrivateBus.h"
#include "X11TestEnv.h"

#include "platform/x11/XcbConnection.h"
#include "support/TempXdg.h"

#include <QProcess>
#include <QRect>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <xcb/xcb.h>

// A window of ours as the X server sees it.
struct Found {
    xcb_window_t window = XCB_NONE;
    QRect geometry; // on the root window
};

// Tindrel started as a separate process on the fixture's desktop and a
// session bus of its own, with its files in a temporary folder; ended by its
// PID when the test is over.
class TindrelProcess : public ::testing::Test {
protected:
    TindrelProcess();
    ~TindrelProcess() override;

    QProcessEnvironment environment() const;
    // Starts it with `settings` as its settings file's [General] lines, and
    // waits for its tray icon.
    void start(const QByteArray& settings = {},
               QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels);

    // What one run of the `tindrel` command printed and how it ended.
    struct Command {
        int exitCode = -1;
        QString out;
        QString err;
    };
    Command tindrelCommand(const QStringList& arguments, const QByteArray& input = {}) const;

    bool overrideRedirect(xcb_window_t window);
    // The icon embedded in the tray: small, and placed by the tray, not the
    // window manager.
    Found trayIcon();
    // The panel: a managed window of at least the minimum panel width.
    Found panel();
    // A popup menu: a larger window the window manager does not manage.
    Found menu();
    // Whether the panel has the keyboard: it is the active window.
    bool panelIsActive();
    // Whether the pointer is over the bare desktop background, no window.
    bool pointerOverBackground();
    bool storeHolds(const QString& text);
    bool copy(const QString& text);
    static bool xdotool(const QStringList& args);

    // A command that runs tindrel, given as its last argument, instead of
    // running it directly; it must exec it, so the PID stays tindrel's.
    QStringList wrapper;
    TempXdg xdg;
    XcbConnection x;
    PrivateBus bus;
    QProcess tindrel;
    std::unique_ptr<TestClient> offer;
};

QByteArray property(XcbConnection& x, xcb_window_t window, const char* name);
