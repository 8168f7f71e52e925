// Renders the application's SVG icon to a square PNG of one size, for the
// icon theme's fixed-size folders:  tindrel-render-icon <in.svg> <size> <out.png>
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool isNumber = false;
    const int size = args.value(2).toInt(&isNumber);
    if (args.size() != 4 || !isNumber || size < 8 || size > 1024) {
        std::fputs("usage: tindrel-render-icon <in.svg> <size> <out.png>\n", stderr);
        return 2;
    }
    QImageReader reader(args[1]);
    reader.setScaledSize({size, size});
    const QImage image = reader.read();
    if (image.isNull() || !image.save(args[3], "PNG")) {
        std::fprintf(stderr, "tindrel-render-icon: %s\n", qPrintable(reader.errorString()));
        return 1;
    }
    return 0;
}
