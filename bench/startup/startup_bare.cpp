// A bare Qt program that shows one empty window and ends when its event loop idles.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(1016, 663);
    window.show();
    QTimer::singleShot(0, &app, [] {
        std::puts("idle");
        std::fflush(stdout);
        QCoreApplication::quit();
    });
    return app.exec();
}
