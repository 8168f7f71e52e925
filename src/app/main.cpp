#include "app/AppDelegate.h"
#include "app/BusClient.h"
#include "app/CommandLine.h"
#include "platform/xdg/QuitSignals.h"
#include "platform/xdg/SingleInstance.h"
#include "platform/xdg/XdgPaths.h"
#include "ui/Symbols.h"

#include <QApplication>
#include <QSessionManager>
#include <cstdio>
#include <malloc.h>

using namespace Qt::StringLiterals;

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = CommandLine::parse(arguments);
    BusClient::registerTypes();
    switch (line.kind) {
    case CommandLine::Kind::help:
        std::fputs(CommandLine::usage().toUtf8().constData(), stdout);
        return 0;
    case CommandLine::Kind::version:
        std::puts("Tindrel " TINDREL_VERSION);
        return 0;
    case CommandLine::Kind::invalid:
        std::fprintf(stderr, "tindrel: %s\nTry \"tindrel --help\".\n",
                     line.error.toUtf8().constData());
        return 2;
    case CommandLine::Kind::start:
        break;
    default: {
        // A command for the running instance: no display needed.
        QCoreApplication client(argc, argv);
        return BusClient().run(line);
    }
    }

    // Our windows are X11 ones wherever there is an X server, XWayland
    // included: only there can the panel open by the tray or the pointer,
    // stay out of the taskbar and see clicks elsewhere. A Wayland session
    // without one gets native Wayland windows.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") &&
                                           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                                       ? "wayland"
                                       : "xcb");
    if (qgetenv("QT_QPA_PLATFORM") == "xcb" && qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("Tindrel needs an X11 display or a Wayland one, and neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set.\n",
                   stderr);
        return 1;
    }

    // A clip's buffers can be tens of MiB. glibc would raise its threshold
    // for giving such blocks their own mapping to 32 MiB after the first is
    // freed, and keep later ones in the heap, where what they leave behind
    // stays resident; a fixed threshold returns every large buffer at once.
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Tindrel"_s);
    QApplication::setDesktopFileName(u"io.tindrel.Tindrel"_s);
    QApplication::setWindowIcon(Symbols::applicationIcon());
    // A tray program: closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    const QString storePath = XdgPaths::storeFile();
    SingleInstance instance(SingleInstance::lockPathFor(storePath));
    const SingleInstance::Claim claim = instance.claim();
    if (claim == SingleInstance::Claim::HeldByAnother) {
        // The first may still be starting, not yet on the bus.
        if (BusClient running;
            running.waitForInstance(std::chrono::seconds(5)) && running.run(line) == 0) {
            std::puts("Tindrel is already running; its panel is opening.");
            return 0;
        }
        std::fputs("Tindrel is already running but does not answer.\n", stderr);
        return 1;
    }
    // Without the lock we cannot tell whether another Tindrel runs, except
    // by asking; if none answers we run, rather than leave the user without
    // a clipboard history because the disk is full or read-only.
    QString startNotice;
    if (claim == SingleInstance::Claim::Unavailable) {
        if (BusClient running; running.instanceRuns() && running.run(line) == 0) {
            std::puts("Tindrel is already running; its panel is opening.");
            return 0;
        }
        startNotice = u"could not take the single-instance lock ("_s + instance.problem() +
                      u"). Tindrel runs anyway; clips it cannot save stay in memory and "
                      u"saving is tried again with every change."_s;
    }

    AppDelegate delegate;
    if (!delegate.isReady()) {
        std::fputs("Tindrel could not connect to the desktop: no X11 display, and no Wayland "
                   "one that lets programs follow the clipboard.\n",
                   stderr);
        return 1;
    }
    delegate.launch();
    if (!startNotice.isEmpty())
        delegate.showNotice(startNotice);

    // Every way out saves the clips at once: quitting from the menu, a
    // signal, or the session ending.
    QuitSignals quitSignals([](int) { QCoreApplication::quit(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.saveNow(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate,
                     [&delegate](QSessionManager&) { delegate.saveNow(); });
    return QApplication::exec();
}
