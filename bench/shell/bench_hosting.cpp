// Job hosting: opening all 26 slots one after another (each open re-tiles), a final tile, and
// the resident memory with every job window open against the idle main window; then one job's
// duration against its floor of 1000 steps of 10 ms. With --shot FILE it also runs three tiled
// jobs and saves a picture of the main window.
#include "Application.h"
#include "Auto.h"
#include "ClassAuto.h"
#include "Controls.h"
#include "Fonts.h"
#include "Halvorn.h"
#include "MessageBox.h"
#include "Registry.h"
#include "RegistryAccessor.h"
#include "ResidentMemory.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

QAbstractButton* slotButton(TFormHalvorn& w, int n) {
    return qobject_cast<QAbstractButton*>(findComponent(&w, QStringLiteral("BB") + QChar(64 + n)));
}

TFormAuto* jobOf(TFormHalvorn& w, int n) {
    return qobject_cast<TFormAuto*>(findComponent(&w, QStringLiteral("TFormAuto") + QChar(64 + n)));
}

int shot(TFormHalvorn& w, const QString& file) {
    for (int n = 1; n <= 3; ++n)
        w.BBAClick(slotButton(w, n));
    w.SBRunClick();
    QElapsedTimer wait;
    wait.start();
    while (jobOf(w, 3)->ProgressBar0->value() < 1000 && wait.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    settle();
    const bool saved = w.grab().save(file);
    std::printf("picture of three tiled jobs after a run: %s\n",
                saved ? qPrintable(file) : "not saved");
    return saved ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    InitializeClassAuto();
    Application app(argc, argv);
    installFontSubstitutions();
    QTemporaryDir home;
    registry::setStoreFile((home.path() + "/registry.db").toStdString());
    {
        RegistryAccessor reg;
        for (char c = 'A'; c <= 'Z'; ++c) {
            reg.openKey(QStringLiteral("Quorvane\\") + QLatin1Char(c), true);
            reg.writeString(QStringLiteral("Title"), QStringLiteral("Function ") + QLatin1Char(c));
        }
    }
    int boxes = 0;
    msgbox::setHook([&](const msgbox::Shown&) {
        ++boxes;
        return msgbox::Answer::Ok;
    });

    TFormHalvorn w;
    w.show();
    settle();
    const QStringList args = app.arguments();
    if (args.size() > 2 && args[1] == QLatin1String("--shot"))
        return shot(w, args[2]);

    const long long idle = residentMemoryBytes();
    QElapsedTimer clock;
    double perSlot[27] = {};
    double slowest = 0;
    int slowestSlot = 0;
    clock.start();
    for (int n = 1; n <= 26; ++n) {
        QElapsedTimer one;
        one.start();
        w.BBAClick(slotButton(w, n));
        perSlot[n] = one.nsecsElapsed() / 1e6;
        if (perSlot[n] > slowest) {
            slowest = perSlot[n];
            slowestSlot = n;
        }
    }
    const double openAll = clock.nsecsElapsed() / 1e6;
    clock.restart();
    w.SBTileClick();
    const double tile = clock.nsecsElapsed() / 1e6;
    settle();
    const long long full = residentMemoryBytes();
    int open = 0;
    for (int n = 1; n <= 26; ++n)
        open += w.slotHandle(n) != 0;

    std::printf("open 26 slots one after another (%d windows, %d message box(es) answered):\n",
                open, boxes);
    std::printf("  total %.1f ms, mean %.2f ms a slot, slowest %c %.2f ms, final tile %.2f ms\n",
                openAll, openAll / 26, 64 + slowestSlot, slowest, tile);
    std::printf("  per slot (ms):");
    for (int n = 1; n <= 26; ++n)
        std::printf(" %c %.2f", 64 + n, perSlot[n]);
    std::printf("\n");
    std::printf("resident memory: idle main window %.1f MiB, with %d job windows %.1f MiB "
                "(+%.1f MiB, %.0f KiB a window)\n",
                idle / 1048576.0, open, full / 1048576.0, (full - idle) / 1048576.0,
                open ? (full - idle) / 1024.0 / open : 0.0);

    TFormAuto* a = jobOf(w, 1);
    clock.restart();
    a->Panel0Click(a->Panel0);
    const double job = clock.nsecsElapsed() / 1e6;
    std::printf("one job: %.1f ms against its floor of 10000.0 ms: overhead %.2f %%\n", job,
                (job - 10000.0) / 100.0);
    // Where the overhead goes: the job's own work, and the pauses alone.
    setJobStepPause(std::chrono::milliseconds(0));
    clock.restart();
    a->Panel0Click(a->Panel0);
    const double work = clock.nsecsElapsed() / 1e6;
    setJobStepPause(std::chrono::milliseconds(10));
    clock.restart();
    for (int step = 0; step < 1000; ++step)
        pauseJobStep();
    const double pauses = clock.nsecsElapsed() / 1e6;
    std::printf("  of which the 1000 steps without pauses %.1f ms, 1000 pauses alone %.1f ms\n",
                work, pauses);
    FinalizeClassAuto();
    return 0;
}
