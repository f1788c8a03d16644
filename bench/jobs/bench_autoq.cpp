// Time to open the database job window (created and shown, both connections opened) on SQLite and
// on the test PostgreSQL server, against opening one bare connection through the same driver.
// Median of 10 each. With --shot FILE it saves a picture of the window during a run instead.
//
// PostgreSQL: source scripts/test-services.sh and call start_test_services first.
#include "Ado.h"
#include "Application.h"
#include "AutoQ.h"
#include "Controls.h"
#include "Fonts.h"
#include "MessageBox.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QProgressBar>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kRounds = 10;

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return (values[kRounds / 2 - 1] + values[kRounds / 2]) / 2;
}

QString adoString(const QString& dataSource) {
    return "Provider=MSDASQL.1;Password=qmwt;Persist Security Info=True;User ID=KOVADB;"
           "Data Source=" +
           dataSource;
}

double windowOpenMs(const QString& dataSource, int& errors) {
    QList<double> times;
    for (int i = 0; i < kRounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        auto* window = new TFormAutoQ(nullptr);
        window->setWindowTitle("TFormAutoQ\r\n" + adoString(dataSource) + "\r\n" +
                               adoString(dataSource));
        window->show();
        times << clock.nsecsElapsed() / 1e6;
        if (!window->ADOConnectionSource->Connected() || !window->ADOConnectionTarget->Connected())
            ++errors;
        delete window;
    }
    return median(times);
}

double bareOpenMs(const QString& dataSource, int& errors) {
    QList<double> times;
    for (int i = 0; i < kRounds; ++i) {
        const QString name = QStringLiteral("bare%1").arg(i);
        QElapsedTimer clock;
        clock.start();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QODBC", name);
            db.setDatabaseName(dataSource);
            db.setUserName("KOVADB");
            db.setPassword("qmwt");
            if (!db.open())
                ++errors;
            times << clock.nsecsElapsed() / 1e6;
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    return median(times);
}

int screenshot(const QString& file) {
    auto* window = new TFormAutoQ(nullptr);
    window->setWindowTitle("TFormAutoQ\r\n" + adoString("BENCHSQLITE") + "\r\n" +
                           adoString("BENCHSQLITE"));
    window->show();
    bool saved = false;
    // Three seconds into the run the clock shows and the bar stands near 30 %.
    QTimer::singleShot(3000, window, [&] {
        saved = window->grab().save(file);
        window->close();
        qApp->quit();
    });
    setTimerEnabled(window->Timer0, true);
    qApp->exec();
    delete window;
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(file));
    return saved ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    QString ini = QStringLiteral("[BENCHSQLITE]\nDriver=SQLite3\nDatabase=%1/bench.sqlite\n\n")
                      .arg(dir.path());
    const bool postgres = !qEnvironmentVariableIsEmpty("QUORVANE_TEST_PGPORT");
    if (postgres)
        ini += QStringLiteral("[BENCHPG]\nDriver=PostgreSQL Unicode\nServername=%1\nPort=%2\n"
                              "Database=%3\n")
                   .arg(qEnvironmentVariable("QUORVANE_TEST_PGHOST", "127.0.0.1"),
                        qEnvironmentVariable("QUORVANE_TEST_PGPORT"),
                        qEnvironmentVariable("QUORVANE_TEST_PGDATABASE", "kovadb"));
    QFile file(dir.filePath("odbc.ini"));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(ini.toUtf8());
    file.close();
    qputenv("ODBCINI", QFile::encodeName(file.fileName()));

    Application app(argc, argv);
    installFontSubstitutions();
    int errors = 0;
    msgbox::setHook([&](const msgbox::Shown& shown) {
        std::fprintf(stderr, "error box: %s\n", qPrintable(shown.text));
        ++errors;
        return msgbox::Answer::Ok;
    });
    if (argc == 3 && QString(argv[1]) == "--shot")
        return screenshot(QString::fromLocal8Bit(argv[2]));

    std::printf("median of %d, milliseconds\n", kRounds);
    std::printf("%-12s %14s %14s %14s\n", "data source", "window+2 conn", "bare conn",
                "window/2xbare");
    const auto report = [&](const char* label, const QString& dsn) {
        const double window = windowOpenMs(dsn, errors);
        const double bare = bareOpenMs(dsn, errors);
        std::printf("%-12s %14.2f %14.2f %14.2f\n", label, window, bare, window / (2 * bare));
    };
    report("SQLite", "BENCHSQLITE");
    if (postgres)
        report("PostgreSQL", "BENCHPG");
    else
        std::printf("PostgreSQL   skipped: QUORVANE_TEST_PGPORT not set\n");
    if (errors)
        std::printf("%d connection failures: figures not valid\n", errors);
    return errors ? 1 : 0;
}
