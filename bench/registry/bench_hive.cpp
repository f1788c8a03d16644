// Export of the full settings tree (26 slots, title, file name and 18 parameters of 100 bytes
// each): median time of RegSaveKeyA (store read + hive build + file write) and of the hive build
// alone, and the file size.
#include "HiveWriter.h"
#include "Registry.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double medianMs(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void set(HKEY h, const std::string& name, const std::string& text) {
    RegSetValueExA(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   DWORD(text.size() + 1));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    registry::setStoreFile((dir.path() + "/registry.db").toStdString());
    qputenv("HOME", dir.path().toUtf8());

    // 100 bytes of UTF-8 text: 30 CJK characters and 10 ASCII ones.
    std::string text;
    for (int i = 0; i < 30; ++i)
        text += "參";
    text += "0123456789";
    for (char l = 'A'; l <= 'Z'; ++l) {
        HKEY h = nullptr;
        const std::string path = std::string("Quorvane\\") + l;
        RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                        nullptr);
        set(h, "Title", text);
        set(h, "FileName", text);
        for (int p = 1; p <= 18; ++p) {
            char name[3];
            std::snprintf(name, sizeof name, "%02d", p);
            set(h, name, text);
        }
        RegCloseKey(h);
    }

    const int runs = 31;
    std::vector<double> save, build;
    qint64 size = 0;
    const QString file = dir.path() + "/Quorvane";
    for (int i = 0; i < runs; ++i) {
        QFile::remove(file);
        HKEY h = nullptr;
        RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane", 0, KEY_READ, &h);
        const auto t0 = std::chrono::steady_clock::now();
        const LONG rc = RegSaveKeyA(h, "C:\\Quorvane", nullptr);
        const auto t1 = std::chrono::steady_clock::now();
        if (rc != ERROR_SUCCESS) {
            std::fprintf(stderr, "RegSaveKeyA failed: %d\n", int(rc));
            return 1;
        }
        registry::Key tree;
        registry::readTree(h, tree);
        RegCloseKey(h);
        std::vector<std::uint8_t> bytes;
        const auto t2 = std::chrono::steady_clock::now();
        hive::writeHive(tree, hive::currentFileTime(), bytes);
        const auto t3 = std::chrono::steady_clock::now();
        save.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        build.push_back(std::chrono::duration<double, std::milli>(t3 - t2).count());
        size = QFile(file).size();
    }
    std::printf("hive export, 26 slots x 20 values of 100 bytes, %d runs\n", runs);
    std::printf("  RegSaveKeyA (read store, build, write, fsync, link): median %.3f ms\n",
                medianMs(save));
    std::printf("  hive build alone:                                    median %.3f ms\n",
                medianMs(build));
    std::printf("  file size: %lld bytes\n", static_cast<long long>(size));
    return 0;
}
