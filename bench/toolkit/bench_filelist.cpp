// Time to show a directory of 10,000 files in the file list, against reading the same directory
// with readdir and sorting the names. Prints both and their ratio.
#include "Drives.h"
#include "FileControls.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <strings.h>
#include <vector>

namespace {

constexpr int Files = 10000;
constexpr int Rounds = 20;

double readAndSort(const QByteArray& dir) {
    QElapsedTimer timer;
    timer.start();
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.constData());
    while (dirent* entry = ::readdir(d))
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    ::closedir(d);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return ::strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    if (names.size() != Files)
        std::fprintf(stderr, "read %zu names\n", names.size());
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    for (int i = 0; i < Files; ++i) {
        QFile file(dir.path() +
                   QStringLiteral("/File%1.%2").arg(i * 7919 % Files).arg(i % 3 ? "txt" : "Log"));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
    }
    drives::mapDrive(QLatin1Char('B'), dir.path());
    drives::mapDrive(QLatin1Char('D'), dir.path() + QStringLiteral("/.."));

    TFileListBox list;
    list.resize(180, 177);
    list.show();
    double listTotal = 0, baseTotal = 0, listBest = 1e9, baseBest = 1e9;
    const QByteArray host = QFile::encodeName(dir.path());
    for (int round = 0; round < Rounds; ++round) {
        list.setDirectory(QStringLiteral("D:\\")); // away, so that each round reads anew
        QElapsedTimer timer;
        timer.start();
        list.setDirectory(QStringLiteral("B:\\"));
        list.repaint();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        if (list.count() != Files)
            std::fprintf(stderr, "listed %d files\n", int(list.count()));
        const double base = readAndSort(host);
        listTotal += ms;
        baseTotal += base;
        listBest = std::min(listBest, ms);
        baseBest = std::min(baseBest, base);
    }
    std::printf("file list, %d files: mean %.2f ms, best %.2f ms\n", Files, listTotal / Rounds,
                listBest);
    std::printf("readdir + sort:       mean %.2f ms, best %.2f ms\n", baseTotal / Rounds, baseBest);
    std::printf("ratio (mean): %.2fx, (best): %.2fx, goal at most 3x\n", listTotal / baseTotal,
                listBest / baseBest);
    return 0;
}
