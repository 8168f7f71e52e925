// A native Wayland text client for the paste tests: one text area, under
// the application id given. Prints "focused" whenever its window gets the
// keyboard and "focus lost" when another window takes it (a desktop's
// dialog), and "text <percent-encoded UTF-8>" after every change.
//   tindrel_wayland_text_field <app-id>
#include <QApplication>
#include <QPlainTextEdit>
#include <QWindow>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
void say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "wayland");
    QApplication app(argc, argv);
    if (argc > 1)
        QGuiApplication::setDesktopFileName(QString::fromLocal8Bit(argv[1]));
    QPlainTextEdit field;
    field.setWindowTitle(u"Tindrel paste target"_s);
    QObject::connect(&field, &QPlainTextEdit::textChanged,
                     [&field] { say("text " + field.toPlainText().toUtf8().toPercentEncoding()); });
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged,
                     [](QWindow* window) { say(window ? "focused" : "focus lost"); });
    field.show();
    field.setFocus();
    return QApplication::exec();
}
