// Saves a picture of the whole X screen:  tindrel-screenshot <file.png>
// A few lines of Qt rather than another image package on the machine.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: tindrel-screenshot <file.png>\n", stderr);
        return 2;
    }
    QGuiApplication app(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fputs("tindrel-screenshot: no screen\n", stderr);
        return 1;
    }
    const QPixmap shot = screen->grabWindow(0);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]))) {
        std::fputs("tindrel-screenshot: could not save the picture\n", stderr);
        return 1;
    }
    return 0;
}
