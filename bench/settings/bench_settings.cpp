// Reads and writes per second through the settings accessor, and the time the link setup dialog
// takes to save all 26 slots, with changed and with unchanged values. Usage: bench_settings
// [DIRECTORY] (where the store file is made; default a temporary directory).
#include "RegistryAccessor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QString slotKey(int slot) {
    return QStringLiteral("Quorvane\\") + QChar(64 + slot);
}

// Seconds of one save as the link setup dialog does it at its close: with `changed`, every
// value gets a new text; without, each is given back the bytes it holds, as after a look at the
// dialog without editing.
double saveAllSlots(int round, bool changed) {
    QElapsedTimer t;
    t.start();
    for (int slot = 1; slot <= 26; ++slot) {
        RegistryAccessor reg;
        if (!reg.openKey(slotKey(slot), false))
            std::printf("slot %d: key missing\n", slot);
        const int r = changed ? round : 0;
        QByteArray title =
            QStringLiteral("Function %1 %2").arg(QChar(64 + slot)).arg(r).toUtf8() + '\0';
        QByteArray file = QStringLiteral("C:\\data\\file%1.txt").arg(r).toUtf8() + '\0';
        reg.writeData("Title", title);
        reg.writeData("FileName", file);
        reg.closeKey();
    }
    return t.nsecsElapsed() / 1e9;
}

void reportSaves(bool changed) {
    std::vector<double> saves;
    for (int round = 0; round < 15; ++round)
        saves.push_back(saveAllSlots(round, changed));
    std::sort(saves.begin(), saves.end());
    std::printf("close of the link setup dialog, %s values (52 writes, each slot key opened): "
                "median %.1f ms, best %.1f ms, worst %.1f ms over %zu rounds\n",
                changed ? "changed" : "unchanged", 1000 * saves[saves.size() / 2],
                1000 * saves.front(), 1000 * saves.back(), saves.size());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir temp(argc > 1 ? QString(argv[1]) + "/bench-XXXXXX" : QString());
    if (!temp.isValid()) {
        std::fprintf(stderr, "cannot make a directory for the store\n");
        return 1;
    }
    const QString file = temp.filePath("registry.db");
    registry::setStoreFile(file.toStdString());
    std::printf("store file: %s\n", qPrintable(file));

    for (int slot = 1; slot <= 26; ++slot)
        RegistryAccessor().createKey(slotKey(slot));

    RegistryAccessor reg;
    reg.openKey(slotKey(1), false);
    const int writes = 500;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < writes; ++i)
        reg.writeString(QStringLiteral("%1").arg(i % 18 + 1, 2, 10, QChar('0')),
                        QStringLiteral("parameter text %1").arg(i));
    const double writeSeconds = t.nsecsElapsed() / 1e9;

    const int reads = 5000;
    qsizetype total = 0;
    t.restart();
    for (int i = 0; i < reads; ++i)
        total += reg.readString(QStringLiteral("%1").arg(i % 18 + 1, 2, 10, QChar('0'))).size();
    const double readSeconds = t.nsecsElapsed() / 1e9;
    reg.closeKey();

    std::printf("writes: %d in %.3f s, %.0f per second (%.3f ms each)\n", writes, writeSeconds,
                writes / writeSeconds, 1000 * writeSeconds / writes);
    std::printf("reads:  %d in %.3f s, %.0f per second (%.3f ms each; %lld characters)\n", reads,
                readSeconds, reads / readSeconds, 1000 * readSeconds / reads,
                static_cast<long long>(total));

    reportSaves(true);
    reportSaves(false);
    return 0;
}
