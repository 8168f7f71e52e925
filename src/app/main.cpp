#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tindrel"));
    std::puts("Tindrel: the clip model is built; the tray application arrives with the panel.");
    return 0;
}
