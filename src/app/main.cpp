#include "app/AppDelegate.h"
#include "platform/xdg/QuitSignals.h"
#include "platform/xdg/SingleInstance.h"
#include "platform/xdg/XdgPaths.h"
#include "ui/Symbols.h"

#include <QApplication>
#include <QSessionManager>
#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char** argv) {
    // The desktop code speaks X11; under Wayland it goes through XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (qgetenv("QT_QPA_PLATFORM") == "xcb" && qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("Tindrel needs an X11 display, and DISPLAY is not set.\n", stderr);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Tindrel"_s);
    QApplication::setDesktopFileName(u"io.tindrel.Tindrel"_s);
    QApplication::setWindowIcon(Symbols::applicationIcon());
    // A tray program: closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    const QString storePath = XdgPaths::storeFile();
    SingleInstance instance(SingleInstance::lockPathFor(storePath),
                            SingleInstance::socketPathFor(storePath));
    const bool settingsAsked = QCoreApplication::arguments().contains(u"--settings"_s);
    if (!instance.claim()) {
        if (instance.sendToRunning(settingsAsked ? "settings" : "show")) {
            std::puts(settingsAsked ? "Tindrel is already running; its settings are opening."
                                    : "Tindrel is already running; its panel is opening.");
            return 0;
        }
        std::fputs("Tindrel is already running but does not answer.\n", stderr);
        return 1;
    }

    AppDelegate delegate;
    if (!delegate.isReady()) {
        std::fputs("Tindrel could not connect to the X11 desktop.\n", stderr);
        return 1;
    }
    delegate.launch();
    instance.onMessage = [&delegate](const QByteArray& message) {
        if (message == "show")
            delegate.showPanel();
        else if (message == "settings")
            delegate.showSettings();
    };
    if (settingsAsked)
        delegate.showSettings();

    // Every way out saves the clips at once: quitting from the menu, a
    // signal, or the session ending.
    QuitSignals quitSignals([](int) { QCoreApplication::quit(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.saveNow(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate,
                     [&delegate](QSessionManager&) { delegate.saveNow(); });
    return QApplication::exec();
}
