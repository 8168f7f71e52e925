// Saves a picture of the X screen, or of a part of it:
//   tindrel-screenshot <file.png> [x y width height]
// A few lines of Qt rather than another image package on the machine.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 6) {
        std::fputs("usage: tindrel-screenshot <file.png> [x y width height]\n", stderr);
        return 2;
    }
    QGuiApplication app(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fputs("tindrel-screenshot: no screen\n", stderr);
        return 1;
    }
    QPixmap shot = screen->grabWindow(0);
    if (argc == 6)
        shot = shot.copy(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                         std::atoi(argv[5]));
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]))) {
        std::fputs("tindrel-screenshot: could not save the picture\n", stderr);
        return 1;
    }
    return 0;
}
