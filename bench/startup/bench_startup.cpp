// Start-up time: from process start until the main window is shown and the event loop idles,
// against a bare Qt program showing one empty window. Median of RUNS runs each.
#include "Registry.h"
#include "RegistryAccessor.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double runOnce(const QString& program, const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    p.start(program, {});
    if (!p.waitForStarted() || !p.waitForReadyRead(30000))
        return -1;
    double ms = clock.nsecsElapsed() / 1e6;
    p.waitForFinished(30000);
    return ms;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    QTemporaryDir home; // a private settings store with titles, so no setup dialog opens
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home.path());
    if (!env.contains("DISPLAY"))
        env.insert("QT_QPA_PLATFORM", "offscreen");

    const QString dir = QStringLiteral(BENCH_DIR);
    std::vector<double> program, bare;
    registry::setStoreFile((home.path() + "/quorvane/registry.db").toStdString());
    {
        RegistryAccessor reg;
        for (char c = 'A'; c <= 'Z'; ++c) {
            reg.openKey(QStringLiteral("Quorvane\\") + QLatin1Char(c), true);
            reg.writeString(QStringLiteral("Title"), QStringLiteral("Function ") + QLatin1Char(c));
        }
    }
    runOnce(dir + "/bench_startup_program", env); // warm the file cache
    for (int i = 0; i < runs; ++i) {
        bare.push_back(runOnce(dir + "/bench_startup_bare", env));
        program.push_back(runOnce(dir + "/bench_startup_program", env));
    }
    const double p = median(program), b = median(bare);
    std::printf("start-up until idle, median of %d runs: program %.1f ms, bare Qt window %.1f ms, "
                "ratio %.2f\n",
                runs, p, b, p / b);
    return 0;
}
