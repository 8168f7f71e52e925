// A small X client for the x11 tests, in one of these roles:
//   offer <text> [--type NAME=VALUE]... [--hang] [--stall TARGET]
//         [--refuse TARGET] [--log FILE] [--requestors FILE]
//       owns CLIPBOARD with the text and the extra targets, prints "ready",
//       and exits when another client takes the clipboard. --hang: never
//       answers a request (an owner that stalls). --stall: never answers
//       requests for that target ("*": for any); --refuse: refuses them.
//       --log: appends the target of each request to FILE, one line each;
//       --requestors: the requestor window of each, in decimal.
//   editor <file> [--class NAME]
//       a text editor window that saves its text to <file> on every change,
//       prints "ready <window id>" once it is shown.
//   window [--class NAME] [--colour NAME] [--no-focus]
//       a plain window, prints "ready <window id>". --colour: filled with
//       that colour and maximised, a backdrop for looking through windows.
//       --no-focus: never takes the keyboard, even when clicked (a dock).
//   keylog <file> [--class NAME]
//       a window that appends each non-modifier key press, as Qt names the
//       combination ("Ctrl+Shift+V"), as one line to <file>.
// --class sets the class part of the windows' WM_CLASS.
#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMimeData>
#include <QPalette>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <xcb/xcb.h>

using namespace Qt::StringLiterals;

namespace {
void say(const QByteArray& line) {
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString option(const QStringList& args, const QString& name) {
    const qsizetype i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : QString();
}

// Sees each selection request before Qt answers it: logs its target, and
// answers it otherwise (or not at all) when asked to.
class RequestFilter final : public QAbstractNativeEventFilter {
public:
    explicit RequestFilter(const QStringList& args)
        : m_stall(option(args, u"--stall"_s)), m_refuse(option(args, u"--refuse"_s)),
          m_log(option(args, u"--log"_s)), m_requestors(option(args, u"--requestors"_s)),
          m_conn(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection()) {}

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST)
            return false;
        const auto* request = static_cast<const xcb_selection_request_event_t*>(message);
        const QString target = atomName(request->target);
        if (!m_log.isEmpty()) {
            QFile file(m_log);
            if (file.open(QIODevice::Append))
                file.write(target.toUtf8() + '\n');
        }
        if (!m_requestors.isEmpty()) {
            QFile file(m_requestors);
            if (file.open(QIODevice::Append))
                file.write(QByteArray::number(request->requestor) + '\n');
        }
        if (target == m_stall || m_stall == QLatin1String("*"))
            return true;
        if (target == m_refuse) {
            xcb_selection_notify_event_t notify{};
            notify.response_type = XCB_SELECTION_NOTIFY;
            notify.time = request->time;
            notify.requestor = request->requestor;
            notify.selection = request->selection;
            notify.target = request->target;
            notify.property = XCB_NONE;
            xcb_send_event(m_conn, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                           reinterpret_cast<const char*>(&notify));
            xcb_flush(m_conn);
            return true;
        }
        return false;
    }

private:
    QString atomName(xcb_atom_t atom) const {
        xcb_get_atom_name_reply_t* reply =
            xcb_get_atom_name_reply(m_conn, xcb_get_atom_name(m_conn, atom), nullptr);
        if (!reply)
            return QString();
        const QString name = QString::fromLatin1(xcb_get_atom_name_name(reply),
                                                 xcb_get_atom_name_name_length(reply));
        std::free(reply);
        return name;
    }

    QString m_stall;
    QString m_refuse;
    QString m_log;
    QString m_requestors;
    xcb_connection_t* m_conn;
};

int offer(QApplication& app, const QStringList& args) {
    RequestFilter filter(args);
    app.installNativeEventFilter(&filter);
    auto* data = new QMimeData;
    data->setText(args.value(2));
    for (qsizetype i = 3; i + 1 < args.size(); ++i) {
        if (args[i] != QLatin1String("--type"))
            continue;
        const QString type = args[i + 1];
        const qsizetype eq = type.indexOf(u'=');
        data->setData(type.left(eq), type.mid(eq + 1).toUtf8());
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(data, QClipboard::Clipboard);
    QCoreApplication::processEvents();
    say("ready");
    if (args.contains(QLatin1String("--hang"))) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    QObject::connect(clipboard, &QClipboard::changed, &app, [clipboard](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard())
            QCoreApplication::quit();
    });
    return QApplication::exec();
}

class KeyLog final : public QWidget {
public:
    explicit KeyLog(QString path) : m_path(std::move(path)) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
        case Qt::Key_Control:
        case Qt::Key_Shift:
        case Qt::Key_Alt:
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
            return;
        default:
            break;
        }
        QFile file(m_path);
        if (file.open(QIODevice::Append))
            file.write(QKeySequence(event->keyCombination()).toString().toUtf8() + '\n');
    }

private:
    QString m_path;
};

void announce(QWidget& window) {
    window.resize(400, 300);
    window.show();
    if (!(window.windowFlags() & Qt::WindowDoesNotAcceptFocus))
        window.activateWindow();
    QTimer::singleShot(0, &window, [&window] {
        say("ready " + QByteArray::number(static_cast<qulonglong>(window.winId())));
    });
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString role = args.value(1);
    // Qt names the WM_CLASS class after the application.
    if (const QString name = option(args, u"--class"_s); !name.isEmpty())
        QCoreApplication::setApplicationName(name);
    if (role == QLatin1String("offer"))
        return offer(app, args);
    if (role == QLatin1String("editor")) {
        const QString path = args.value(2);
        QPlainTextEdit editor;
        QObject::connect(&editor, &QPlainTextEdit::textChanged, &editor, [&editor, path] {
            QFile file(path);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write(editor.toPlainText().toUtf8());
        });
        announce(editor);
        return QApplication::exec();
    }
    if (role == QLatin1String("keylog")) {
        KeyLog window(args.value(2));
        announce(window);
        return QApplication::exec();
    }
    if (role == QLatin1String("window")) {
        QWidget window;
        if (args.contains(QLatin1String("--no-focus")))
            window.setWindowFlag(Qt::WindowDoesNotAcceptFocus);
        if (const QString colour = option(args, u"--colour"_s); !colour.isEmpty()) {
            QPalette palette = window.palette();
            palette.setColor(QPalette::Window, QColor::fromString(colour));
            window.setPalette(palette);
            window.setAutoFillBackground(true);
            announce(window);
            window.showMaximized();
        } else {
            announce(window);
        }
        return QApplication::exec();
    }
    std::fputs("usage: tindrel_x11_helper offer|editor|window|keylog ...\n", stderr);
    return 2;
}
