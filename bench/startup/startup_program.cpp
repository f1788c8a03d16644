// The program's own start-up, ending as soon as the shown main window's event loop idles.
#include "Startup.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    return runProgram(argc, argv, [] {
        std::puts("idle");
        std::fflush(stdout);
        QCoreApplication::quit();
    });
}
