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
    const SingleInstance::Claim claim = instance.claim();
    const auto handOver = [&instance] {
        if (!instance.sendToRunning("show"))
            return false;
        std::puts("Tindrel is already running; its panel is opening.");
        return true;
    };
    if (claim == SingleInstance::Claim::HeldByAnother) {
        if (handOver())
            return 0;
        std::fputs("Tindrel is already running but does not answer.\n", stderr);
        return 1;
    }
    // Without the lock we cannot tell whether another Tindrel runs, except
    // by asking; if none answers we run, rather than leave the user without
    // a clipboard history because the disk is full or read-only.
    QString startNotice;
    if (claim == SingleInstance::Claim::Unavailable) {
        if (handOver())
            return 0;
        instance.listen();
        startNotice = u"could not take the single-instance lock ("_s + instance.problem() +
                      u"). Tindrel runs anyway; clips it cannot save stay in memory and "
                      u"saving is tried again with every change."_s;
    }

    AppDelegate delegate;
    if (!delegate.isReady()) {
        std::fputs("Tindrel could not connect to the X11 desktop.\n", stderr);
        return 1;
    }
    delegate.launch();
    if (!startNotice.isEmpty())
        delegate.showNotice(startNotice);
    instance.onMessage = [&delegate](const QByteArray& message) {
        if (message == "show")
            delegate.showPanel();
    };

    // Every way out saves the clips at once: quitting from the menu, a
    // signal, or the session ending.
    QuitSignals quitSignals([](int) { QCoreApplication::quit(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.saveNow(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate,
                     [&delegate](QSessionManager&) { delegate.saveNow(); });
    return QApplication::exec();
}
