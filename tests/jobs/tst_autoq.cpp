// The database job window: its caption lines, its real connections (SQLite and PostgreSQL through
// unixODBC), its timer chain and run, and its close while the run processes events.
#include "Ado.h"
#include "Auto.h"
#include "AutoQ.h"
#include "Controls.h"
#include "Error.h"
#include "MessageBox.h"
#include "TestMain.h"

#include <QAbstractItemView>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

namespace {

const QString kDefault = QStringLiteral("Provider=MSDASQL.1;Password=qmwt;Persist Security "
                                        "Info=True;User ID=KOVADB;Data Source=KOVADB2");

QString adoString(const QString& dataSource, const QString& password = QStringLiteral("qmwt")) {
    return QStringLiteral(
               "Provider=MSDASQL.1;Password=%1;Persist Security Info=True;User ID=KOVADB;"
               "Data Source=%2")
        .arg(password, dataSource);
}

bool postgresConfigured() {
    return !qEnvironmentVariableIsEmpty("QUORVANE_TEST_PGPORT");
}

QString pgHost() {
    return qEnvironmentVariable("QUORVANE_TEST_PGHOST", "127.0.0.1");
}

QString pgDatabase() {
    return qEnvironmentVariable("QUORVANE_TEST_PGDATABASE", "kovadb");
}

// The test server's refusal of a wrong password, as the PostgreSQL driver words it.
QString pgWrongPassword(const QString& user) {
    return QStringLiteral("connection to server at \"%1\", port %2 failed: FATAL:  password "
                          "authentication failed for user \"%3\"")
        .arg(pgHost(), qEnvironmentVariable("QUORVANE_TEST_PGPORT"), user);
}

// The first column of the first row `query` gives on an open connection.
QString firstValue(TADOConnection* connection, const QString& query) {
    QSqlQuery q(QSqlDatabase::database(connection->sqlConnectionName(), false));
    if (!q.exec(query) || !q.next())
        return QStringLiteral("<query failed: %1>").arg(q.lastError().text());
    return q.value(0).toString();
}

// The number of runs a progress bar saw: each run's first step sets the position to 1.
struct RunCounter {
    int runs = 0;
    QList<int> values;
    void watch(QProgressBar* bar) {
        QObject::connect(bar, &QProgressBar::valueChanged, bar, [this](int v) {
            values << v;
            if (v == 1)
                ++runs;
        });
    }
};

} // namespace

// Skips without the test PostgreSQL server, but fails in CI, where the server must be there.
#define REQUIRE_POSTGRES()                                                                         \
    do {                                                                                           \
        if (!postgresConfigured()) {                                                               \
            if (qgetenv("CI") == "true")                                                           \
                QFAIL("QUORVANE_TEST_PGPORT is not set: scripts/test-services.sh did not start "   \
                      "PostgreSQL");                                                               \
            QSKIP("no test PostgreSQL server (source scripts/test-services.sh and run "            \
                  "start_test_services)");                                                         \
        }                                                                                          \
    } while (false)

class TestAutoQ : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QList<msgbox::Shown> boxes_;

    void writeFile(const QString& name, const QString& text) {
        QFile file(dir_.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    }

    std::unique_ptr<TFormAutoQ> shownWindow(const QString& caption) {
        auto window = std::make_unique<TFormAutoQ>(nullptr);
        window->setWindowTitle(caption);
        window->show();
        return window;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        // Data sources of our own: KOVADB2 stands for the deployment's default data source.
        QString ini;
        for (const char* name : {"KOVADB2", "QSOURCE", "QTARGET"})
            ini += QStringLiteral("[%1]\nDriver=SQLite3\nDatabase=%2/%1.sqlite\n\n")
                       .arg(QLatin1String(name), dir_.path());
        if (postgresConfigured())
            ini += QStringLiteral("[QPG]\nDriver=PostgreSQL Unicode\nServername=%1\nPort=%2\n"
                                  "Database=%3\n\n")
                       .arg(qEnvironmentVariable("QUORVANE_TEST_PGHOST", "127.0.0.1"),
                            qEnvironmentVariable("QUORVANE_TEST_PGPORT"),
                            qEnvironmentVariable("QUORVANE_TEST_PGDATABASE", "kovadb"));
        // A data source that brings its own login, as people keep one for a tool.
        if (postgresConfigured())
            ini += QStringLiteral("[QPGLOGIN]\nDriver=PostgreSQL Unicode\nServername=%1\nPort=%2\n"
                                  "Database=%3\nUsername=KOVADB\nPassword=qmwt\n\n")
                       .arg(pgHost(), qEnvironmentVariable("QUORVANE_TEST_PGPORT"), pgDatabase());
        // File data sources, as the driver manager's tools write them.
        writeFile("lite.dsn", QStringLiteral("[ODBC]\nDRIVER=SQLite3\nDATABASE=%1/filedsn.sqlite\n")
                                  .arg(dir_.path()));
        if (postgresConfigured())
            writeFile(
                "pg.dsn",
                QStringLiteral("[ODBC]\nDRIVER=PostgreSQL Unicode\nSERVER=%1\nPORT=%2\n"
                               "DATABASE=%3\n")
                    .arg(pgHost(), qEnvironmentVariable("QUORVANE_TEST_PGPORT"), pgDatabase()));
        QFile file(dir_.filePath("odbc.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini.toUtf8());
        file.close();
        qputenv("ODBCINI", QFile::encodeName(file.fileName()));
        msgbox::setHook([this](const msgbox::Shown& shown) {
            boxes_ << shown;
            return msgbox::Answer::Ok;
        });
    }

    void init() {
        boxes_.clear();
        setJobStepPause(std::chrono::milliseconds(0));
    }

    void cleanup() { ado::simulateMissingDriver(false); }

    // What the main window relies on, and the layout's fixed properties.
    void jobContract() {
        TForm owner;
        QObject* object = TFormAutoQ::staticMetaObject.newInstance(Q_ARG(QObject*, &owner));
        auto* window = qobject_cast<TFormAutoQ*>(object);
        QVERIFY(window);
        QCOMPARE(window->metaObject()->className(), "TFormAutoQ");
        QCOMPARE(window->owner(), &owner);
        QCOMPARE(window->windowTitle(), QStringLiteral("FormAutoQ"));
        QVERIFY(!window->isVisible());
        QCOMPARE(findComponent(window, "timer0"), window->Timer0);
        QCOMPARE(findComponent(window, "PANEL0"), window->Panel0);
        QVERIFY(!findComponent(window, "ListBox0"));
        QCOMPARE(window->Timer0->interval(), 10);
        QCOMPARE(window->Timer1->interval(), 100);
        QVERIFY(!window->Timer0->isActive() && !window->Timer1->isActive());
        QVERIFY(window->Panel0->caption().isEmpty());
        QCOMPARE(window->SBRun->parent(), window->Panel0);
        QCOMPARE(window->SBRun->geometry(), QRect(24, 156, 80, 22));
        QCOMPARE(window->SBRun->text(), QStringLiteral("Run"));
        QCOMPARE(window->SBRun->focusPolicy(), Qt::NoFocus);
        QCOMPARE(window->ProgressBar0->parent(), window->ToolBar0);
        QCOMPARE(window->ProgressBar0->maximum(), 100);
        for (QTableView* grid : {window->DBSource, window->DBTarget})
            QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(!window->DBTarget->model());
        for (TADOConnection* c : {window->ADOConnectionSource, window->ADOConnectionTarget}) {
            QCOMPARE(c->ConnectionString(), kDefault);
            QCOMPARE(c->Provider(), QStringLiteral("MSDASQL.1"));
            QVERIFY(!c->LoginPrompt());
            QVERIFY(!c->Connected());
        }
        QCOMPARE(window->ADODataSetSource->Connection(), window->ADOConnectionSource);
        QCOMPARE(window->ADOCommandTarget->Connection(), window->ADOConnectionTarget);
        QStringList names;
        for (QObject* child : window->children())
            if (!child->objectName().isEmpty() && !child->objectName().startsWith("layout"))
                names << child->objectName();
        QCOMPARE(names, QStringList({"DSSource", "ADODataSetSource", "ADOCommandSource", "ToolBar0",
                                     "Memo0", "DBSource", "Panel0", "DBTarget", "DSTarget",
                                     "ADODataSetTarget", "ADOCommandTarget", "Timer0",
                                     "ADOConnectionSource", "ADOConnectionTarget", "Timer1"}));
        window->resize(500, 300);
        window->show();
        QTRY_COMPARE(window->ProgressBar0->width(), window->ToolBar0->width());
        QCOMPARE(window->ToolBar0->width(), 500);
        delete window;
        QVERIFY(owner.ownedForms().isEmpty());
    }

    // In a frame of the work area, as the main window hosts it, the frame is 640 x 480.
    void outerSize() {
        QMdiArea area;
        area.resize(1000, 800);
        area.show();
        auto* window = new TFormAutoQ(nullptr);
        window->setWindowTitle("T\r\n\r\n\r\n");
        auto* frame = new QMdiSubWindow;
        frame->setWidget(window);
        area.addSubWindow(frame);
        frame->show();
        window->show();
        QCOMPARE(frame->size(), TFormAutoQ::kOuterSize);
        QTRY_VERIFY(window->width() < 640 && window->height() < 480 - 10);
        // A later showing keeps the size the frame was given meanwhile.
        frame->resize(500, 400);
        window->hide();
        window->show();
        QCOMPARE(frame->size(), QSize(500, 400));
    }

    void missingDriver() {
        ado::simulateMissingDriver(true);
        const QString expected = QStringLiteral(
            "Error creating object.  Please verify that the Microsoft Data Access Components 2.1 "
            "(or later) have been properly installed");
        TForm owner;
        try {
            TFormAutoQ::staticMetaObject.newInstance(Q_ARG(QObject*, &owner));
            QFAIL("the window was created");
        } catch (const Error& e) {
            QCOMPARE(e.message(), expected);
        }
        QVERIFY(owner.ownedForms().isEmpty()); // nothing of the window is left
        QVERIFY_THROWS_EXCEPTION(Error, TADOConnection{});
        QVERIFY_THROWS_EXCEPTION(Error, TADOCommand{});
        ado::simulateMissingDriver(false);
        QVERIFY(TADOConnection{}.sqlConnectionName().startsWith("quorvane.ado."));
    }

    void connectionNames() {
        const QStringList before = QSqlDatabase::connectionNames();
        QSet<QString> names;
        {
            TFormAutoQ first(nullptr), second(nullptr);
            for (TFormAutoQ* w : {&first, &second})
                for (TADOConnection* c : {w->ADOConnectionSource, w->ADOConnectionTarget})
                    names << c->sqlConnectionName();
            QCOMPARE(names.size(), 4);
            for (const QString& name : names)
                QVERIFY(QSqlDatabase::connectionNames().contains(name));
        }
        QCOMPARE(QSqlDatabase::connectionNames(), before);
    }

    void captionLines_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("command");

        const QString src = adoString("QSOURCE"), tgt = adoString("QTARGET");
        QTest::newRow("one line, as the main window sets it")
            << "TFormAutoQ\r\n"
            << "TFormAutoQ" << kDefault << kDefault << "";
        QTest::newRow("empty second and third lines") << "T\r\n\r\n\r\n"
                                                      << "T"
                                                      << ""
                                                      << ""
                                                      << "";
        QTest::newRow("LF only") << "T\n" + src + "\n" + tgt + "\nSELECT 1"
                                 << "T" << src << tgt << "SELECT 1";
        QTest::newRow("CR only") << "T\r" + src + "\r" + tgt + "\r"
                                 << "T" << src << tgt << "";
        QTest::newRow("five lines") << "T\r\n" + src + "\r\n" + tgt + "\r\nSELECT 2\r\nFifth"
                                    << "T" << src << tgt << "SELECT 2";
        QTest::newRow("empty caption") << ""
                                       << "" << kDefault << kDefault << "";
        QTest::newRow("a NUL ends the text") << "T\r\n" + src + QChar(0) + "\r\n\r\nSELECT 3"
                                             << "T" << src << kDefault << "";
        QTest::newRow("empty title line") << "\r\n" + src << "" << src << kDefault << "";
    }

    void captionLines() {
        QFETCH(QString, caption);
        QFETCH(QString, title);
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(QString, command);

        auto window = shownWindow(caption);
        QVERIFY(window->isVisible());
        QCOMPARE(boxes_.size(), 0);
        QCOMPARE(window->windowTitle(), title);
        QCOMPARE(window->ADOConnectionSource->ConnectionString(), source);
        QCOMPARE(window->ADOConnectionTarget->ConnectionString(), target);
        QCOMPARE(window->ADODataSetSource->CommandText(), command);
        // Every data source named here is reachable: a connection is open exactly when its
        // string is not empty.
        QCOMPARE(window->ADOConnectionSource->Connected(), !source.isEmpty());
        QCOMPARE(window->ADOConnectionTarget->Connected(), !target.isEmpty());
        // The data set is never opened, so its grid shows no rows.
        QVERIFY(!window->ADODataSetSource->Active());
        QCOMPARE(window->DBSource->model()->rowCount(), 0);

        // A later showing applies the caption then in force: the title alone.
        window->hide();
        window->show();
        QCOMPARE(window->windowTitle(), title);
        QCOMPARE(window->ADOConnectionSource->ConnectionString(), source);
        QCOMPARE(window->ADOConnectionTarget->ConnectionString(), target);
        QCOMPARE(boxes_.size(), 0);
    }

    void sqliteConnection() {
        auto window = shownWindow("T\r\n" + adoString("QSOURCE", "a;b}.dsn") + "\r\n");
        QCOMPARE(boxes_.size(), 0);
        TADOConnection* source = window->ADOConnectionSource;
        QVERIFY(source->Connected());
        {
            QSqlQuery query(QSqlDatabase::database(source->sqlConnectionName(), false));
            QVERIFY(query.exec("CREATE TEMP TABLE mark (x INTEGER)"));
            source->setConnected(true); // already open: the same session goes on
            QVERIFY(query.exec("SELECT count(*) FROM mark"));
        }
        QVERIFY_THROWS_EXCEPTION(Error, source->setConnectionString(adoString("QTARGET")));
        source->setConnected(false);
        QVERIFY(!source->Connected());
        source->setConnected(false); // closing a closed connection does nothing
        source->setConnectionString(adoString("QTARGET"));
        QCOMPARE(source->ConnectionString(), adoString("QTARGET"));
    }

    void postgresConnection() {
        REQUIRE_POSTGRES();
        auto window = shownWindow("T\r\n" + adoString("QPG") + "\r\n" + adoString("QPG"));
        QCOMPARE(boxes_.size(), 0);
        for (TADOConnection* c : {window->ADOConnectionSource, window->ADOConnectionTarget}) {
            QVERIFY(c->Connected());
            QSqlQuery query(QSqlDatabase::database(c->sqlConnectionName(), false));
            QVERIFY(query.exec("SELECT current_user"));
            QVERIFY(query.next());
            QCOMPARE(query.value(0).toString(), QStringLiteral("KOVADB"));
        }
    }

    // Connection strings the way ODBC users write them. Each opens, and the data it reaches
    // shows that every value arrived as written: the SQLite file the connection made, or what the
    // PostgreSQL server was told.
    void connectionStrings_data() {
        QTest::addColumn<QString>("ado");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("file"); // SQLite: the database file the connection opened

        const QString ok = QStringLiteral("SELECT 'ok'");
        QTest::newRow("SQLite, Driver= in braces")
            << "Provider=MSDASQL.1;Driver={SQLite3};Database=%DIR%/braced.sqlite" << ok << "ok"
            << "braced.sqlite";
        QTest::newRow("SQLite, Driver= without braces")
            << "Provider=MSDASQL.1;Driver=SQLite3;Database=%DIR%/bare.sqlite" << ok << "ok"
            << "bare.sqlite";
        QTest::newRow("SQLite, .dsn in the file name")
            << "Provider=MSDASQL.1;Driver={SQLite3};Database=%DIR%/my.dsn.sqlite" << ok << "ok"
            << "my.dsn.sqlite";
        QTest::newRow("SQLite, file named before the driver, .DSN in it")
            << "Database=%DIR%/late.DSN.sqlite;Driver={SQLite3}" << ok << "ok"
            << "late.DSN.sqlite";
        QTest::newRow("SQLite, Extended Properties")
            << "Provider=MSDASQL.1;Extended Properties=\"Driver={SQLite3};"
               "Database=%DIR%/ext.dsn.sqlite\""
            << ok << "ok"
            << "ext.dsn.sqlite";
        QTest::newRow("SQLite file data source")
            << "Provider=MSDASQL.1;Extended Properties=\"FILEDSN=%DIR%/lite.dsn\"" << ok << "ok"
            << "filedsn.sqlite";
        QTest::newRow("SQLite data source, .dsn in a description")
            << "Provider=MSDASQL.1;Data Source=QSOURCE;Description=x.dsn" << ok << "ok"
            << "QSOURCE.sqlite";
        QTest::newRow("SQLite data source, blanks around keys and values")
            << " Provider = MSDASQL.1 ; Data Source = QSOURCE ; User ID = KOVADB ; Password = a "
            << ok << "ok"
            << "QSOURCE.sqlite";
        QTest::newRow("SQLite data source, ; and braces in a quoted description")
            << "Provider=MSDASQL.1;Data Source=QSOURCE;Description=\"a;b{c}d\"" << ok << "ok"
            << "QSOURCE.sqlite";
        QTest::newRow("SQLite data source, non-ASCII in a key the driver ignores")
            << "Provider=MSDASQL.1;Data Source=QSOURCE;Description=報表ü" << ok << "ok"
            << "QSOURCE.sqlite";

        const QString server = "Server=%HOST%;Port=%PORT%;Database=%DB%;";
        const QString login = "User ID=KOVADB;Password=qmwt";
        const QString tag = "SELECT current_setting('quorvane.tag')";
        QTest::newRow("PostgreSQL, Driver= in braces")
            << "Provider=MSDASQL.1;Driver={PostgreSQL Unicode};" + server + login
            << "SELECT current_user"
            << "KOVADB"
            << "";
        QTest::newRow("PostgreSQL, Driver= without braces")
            << "Provider=MSDASQL.1;Driver=PostgreSQL Unicode;" + server + login
            << "SELECT current_user"
            << "KOVADB"
            << "";
        QTest::newRow("PostgreSQL data source, .dsn in a value")
            << "Provider=MSDASQL.1;Data Source=QPG;" + login +
                   ";pqopt={options=-cquorvane.tag=x.dsn}"
            << tag << "x.dsn"
            << "";
        QTest::newRow("PostgreSQL, ; and braces in a braced value")
            << "Provider=MSDASQL.1;Driver={PostgreSQL Unicode};" + server + login +
                   ";pqopt={options=-cquorvane.tag=a;b}}{c}"
            << tag << "a;b}{c"
            << "";
        QTest::newRow("PostgreSQL, ; and braces in a quoted value")
            << "Provider=MSDASQL.1;Data Source=QPG;" + login +
                   ";pqopt=\"options=-cquorvane.tag={a;b}\""
            << tag << "{a;b}"
            << "";
        QTest::newRow("PostgreSQL, non-ASCII value")
            << "Provider=MSDASQL.1;Data Source=QPG;" + login +
                   ";pqopt={options=-cquorvane.tag=報表ü}"
            << tag << "報表ü"
            << "";
        QTest::newRow("PostgreSQL, DSN-less in Extended Properties")
            << "Provider=MSDASQL.1;" + login +
                   ";Extended Properties=\"DRIVER={PostgreSQL Unicode};SERVER=%HOST%;PORT=%PORT%;"
                   "DATABASE=%DB%\""
            << "SELECT current_database()"
            << "%DB%"
            << "";
        QTest::newRow("PostgreSQL file data source")
            << "Provider=MSDASQL.1;" + login + ";Extended Properties=\"FILEDSN=%DIR%/pg.dsn\""
            << "SELECT current_user"
            << "KOVADB"
            << "";
        QTest::newRow("PostgreSQL file data source named without its extension")
            << "Provider=MSDASQL.1;Extended Properties=\"FILEDSN=%DIR%/pg\";" + login
            << "SELECT current_user"
            << "KOVADB"
            << "";
        // Neither user nor password in the string: the data source's own login stays in force.
        QTest::newRow("PostgreSQL data source with its login, .dsn in a value")
            << "Provider=MSDASQL.1;Data Source=QPGLOGIN;pqopt={options=-cquorvane.tag=y.dsn}"
            << "SELECT current_user || ' ' || current_setting('quorvane.tag')"
            << "KOVADB y.dsn"
            << "";
    }

    void connectionStrings() {
        QFETCH(QString, ado);
        QFETCH(QString, query);
        QFETCH(QString, expected);
        QFETCH(QString, file);
        if (file.isEmpty())
            REQUIRE_POSTGRES();
        const auto fill = [this](QString text) {
            return text.replace("%DIR%", dir_.path())
                .replace("%HOST%", pgHost())
                .replace("%PORT%", qEnvironmentVariable("QUORVANE_TEST_PGPORT"))
                .replace("%DB%", pgDatabase());
        };
        ado = fill(ado);
        expected = fill(expected);
        if (!file.isEmpty())
            QFile::remove(dir_.filePath(file));

        TADOConnection connection;
        connection.setConnectionString(ado);
        try {
            connection.setConnected(true);
        } catch (const Error& e) {
            QFAIL(qPrintable("not opened: " + e.message()));
        }
        QVERIFY(connection.Connected());
        QCOMPARE(firstValue(&connection, query), expected);
        if (!file.isEmpty())
            QVERIFY2(QFile::exists(dir_.filePath(file)), qPrintable(file));
    }

    // The string the driver manager gets for an ADO string, through Qt's ODBC driver.
    void handedString_data() {
        QTest::addColumn<QString>("ado");
        QTest::addColumn<QString>("odbc");
        QTest::newRow("braced driver passes unchanged")
            << "Provider=MSDASQL.1;Driver={PostgreSQL Unicode};Server=h"
            << "Driver={PostgreSQL Unicode};Server=h";
        QTest::newRow("braced value with a doubled brace") << "Driver={a}}b};x=1"
                                                           << "Driver={a}}b};x=1";
        QTest::newRow("data source, user, password")
            << "Provider=MSDASQL.1;Password=p;Persist Security Info=True;User ID=u;Data Source=Q"
            << "DSN=Q;UID=u;PWD=p";
        QTest::newRow("quoted values get braces once")
            << "Data Source=Q;Password=\"a;b}\";Description=' x '"
            << "DSN=Q;Description={ x };PWD={a;b}}}";
        QTest::newRow(".dsn in a value travels behind the user")
            << "Data Source=Q;Description=x.dsn;Port=1;User ID=u"
            << "DSN=Q;UID=u;Description=x.dsn;Port=1";
        QTest::newRow(".dsn in a value, password only")
            << "Data Source=Q;Description=x.dsn;Password=p"
            << "DSN=Q;PWD=p;Description=x.dsn";
        QTest::newRow(".dsn in a value, no login")
            << "Data Source=Q;Description=x.dsn"
            << "DSN=Q;QuorvaneUnused={;UID=};Description=x.dsn";
        QTest::newRow("driver moves before the file holding .dsn")
            << "Database=x.dsn;Driver={SQLite3}"
            << "Driver={SQLite3};QuorvaneUnused={;UID=};Database=x.dsn";
        QTest::newRow("unclosed brace is closed") << "Data Source=Q;Description={a;b;User ID=u"
                                                  << "DSN=Q;Description={a;b;User ID=u}";
        QTest::newRow("SERVER= inside a value: the name passes as it is")
            << "Data Source=Q;Description={SERVER=x}"
            << "DSN=Q;Description={SERVER=x}";
    }

    void handedString() {
        QFETCH(QString, ado);
        QFETCH(QString, odbc);
        const ado::QtOdbcArguments args = ado::qtOdbcArguments(ado::translateConnectionString(ado));
        // What Qt 6.4's QODBCDriver::open builds from them.
        QString built;
        if (args.databaseName.contains(".dsn", Qt::CaseInsensitive))
            built = "FILEDSN=" + args.databaseName;
        else if (args.databaseName.contains("DRIVER=", Qt::CaseInsensitive) ||
                 args.databaseName.contains("SERVER=", Qt::CaseInsensitive))
            built = args.databaseName;
        else
            built = "DSN=" + args.databaseName;
        if (!args.userName.isEmpty())
            built += ";UID=" + args.userName;
        if (!args.password.isEmpty())
            built += ";PWD=" + args.password;
        QCOMPARE(built, odbc);
    }

    // Passwords that hiding them used to mangle the message with, or that could end the value
    // they stand in: each opens when it is the right one, and when it is wrong the error is the
    // driver's message as the driver wrote it.
    void passwords_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("ado"); // %PW% stands for the password as the user wrote it
        QTest::newRow("a") << "a"
                           << "Password=%PW%";
        QTest::newRow("the user name") << "KOVADB"
                                       << "Password=%PW%";
        QTest::newRow("; and braces, quoted") << "p;{w}}d"
                                              << "Password=\"%PW%\"";
        QTest::newRow("; and braces, in braces") << "p;{w}d"
                                                 << "Password={p;{w}}d}";
        QTest::newRow("; and braces, in Extended Properties")
            << "x;y}"
            << "Extended Properties=\"PWD={x;y}}}\"";
        QTest::newRow("blank inside, quote") << "a b'c"
                                             << "Password=\"%PW%\"";
    }

    void passwords() {
        REQUIRE_POSTGRES();
        QFETCH(QString, password);
        QFETCH(QString, ado);
        ado.replace("%PW%", password);
        const QString connectionString =
            "Provider=MSDASQL.1;Persist Security Info=True;User ID=KOVADB;Data Source=QPG;" + ado;

        TADOConnection admin;
        admin.setConnectionString(adoString("QPG"));
        admin.setConnected(true);
        QSqlQuery alter(QSqlDatabase::database(admin.sqlConnectionName(), false));
        QString literal = password;
        literal.replace("'", "''");
        QVERIFY(alter.exec(QStringLiteral("ALTER ROLE \"KOVADB\" PASSWORD '%1'").arg(literal)));
        const auto restore =
            qScopeGuard([&] { QVERIFY(alter.exec("ALTER ROLE \"KOVADB\" PASSWORD 'qmwt'")); });

        TADOConnection right;
        right.setConnectionString(connectionString);
        try {
            right.setConnected(true);
        } catch (const Error& e) {
            QFAIL(qPrintable("the right password was refused: " + e.message()));
        }
        QCOMPARE(firstValue(&right, "SELECT current_user"), QStringLiteral("KOVADB"));
        right.setConnected(false);

        QVERIFY(alter.exec("ALTER ROLE \"KOVADB\" PASSWORD 'qmwt'"));
        auto window = shownWindow("T\r\n" + connectionString + "\r\n");
        QCOMPARE(boxes_.size(), 1);
        QCOMPARE(boxes_[0].kind, msgbox::Kind::Error);
        QCOMPARE(boxes_[0].text, pgWrongPassword("KOVADB"));
        QVERIFY(!window->ADOConnectionSource->Connected());
    }

    // A driver that echoes the connection string: only the values of its password keys are
    // hidden, whatever else in the message looks like the password.
    void hidePasswords_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("hidden");
        QTest::newRow("no password key, short password")
            << "connection to server at \"127.0.0.1\" failed: password authentication failed"
            << "a"
            << "connection to server at \"127.0.0.1\" failed: password authentication failed";
        QTest::newRow("password equal to the user name")
            << "cannot log in as KOVADB with DSN=Q;UID=KOVADB;PWD=KOVADB;Port=1"
            << "KOVADB"
            << "cannot log in as KOVADB with DSN=Q;UID=KOVADB;PWD=****;Port=1";
        QTest::newRow("braced password with ; and braces")
            << "bad string 'DSN=Q;PWD={a;b}}c};UID=u'"
            << "{a;b}}c}"
            << "bad string 'DSN=Q;PWD=****;UID=u'";
        QTest::newRow("Password key of an ADO string, quoted") << "[Password=\"x;y\"; User ID=a]"
                                                               << "{x;y}"
                                                               << "[Password=****; User ID=a]";
        QTest::newRow("plain password with a blank, at the end") << "login failed (pwd=a b)"
                                                                 << "a b"
                                                                 << "login failed (pwd=****)";
        QTest::newRow("a value other than the password handed on")
            << "DSN=Q;PWD=other;UID=u and PWD=a"
            << "a"
            << "DSN=Q;PWD=****;UID=u and PWD=****";
        QTest::newRow("key inside a word is no key") << "NOPWD=1; Passwordless=2"
                                                     << "1"
                                                     << "NOPWD=1; Passwordless=2";
        QTest::newRow("empty value") << "PWD=;UID=u"
                                     << ""
                                     << "PWD=;UID=u";
    }

    void hidePasswords() {
        QFETCH(QString, message);
        QFETCH(QString, password);
        QFETCH(QString, hidden);
        QCOMPARE(ado::hidePasswords(message, password), hidden);
    }

    void connectionErrors_data() {
        QTest::addColumn<QString>("dataSource");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("diagnostic");
        QTest::newRow("missing data source")
            << "NoSuchSourceQ"
            << "secret-Zq7"
            << "[unixODBC][Driver Manager]Data source name not found and no default driver "
               "specified";
        QTest::newRow("wrong password") << "QPG"
                                        << "wrong-Zq7"
                                        << "password authentication failed for user \"KOVADB\"";
    }

    void connectionErrors() {
        QFETCH(QString, dataSource);
        QFETCH(QString, password);
        QFETCH(QString, diagnostic);
        if (dataSource == "QPG")
            REQUIRE_POSTGRES();

        auto window = shownWindow("Title\r\n" + adoString(dataSource, password) + "\r\n" +
                                  adoString("QTARGET") + "\r\nSELECT 4");
        QCOMPARE(boxes_.size(), 1);
        QCOMPARE(boxes_[0].kind, msgbox::Kind::Error);
        QVERIFY2(boxes_[0].text.contains(diagnostic), qPrintable(boxes_[0].text));
        QVERIFY(!boxes_[0].text.contains(password));
        QVERIFY(!boxes_[0].text.contains("PWD", Qt::CaseInsensitive));
        // Shown all the same, the lines before the failure applied, the target never tried.
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Title"));
        QCOMPARE(window->ADODataSetSource->CommandText(), QStringLiteral("SELECT 4"));
        QVERIFY(!window->ADOConnectionSource->Connected());
        QVERIFY(!window->ADOConnectionTarget->Connected());
    }

    void defaultSourceUnreachable() {
        // The deployment's data source missing: one error, the source's; the title kept.
        TFormAutoQ window(nullptr);
        window.ADOConnectionTarget->setConnectionString(adoString("QTARGET"));
        window.ADOConnectionSource->setConnectionString(adoString("NoSuchSourceQ"));
        window.setWindowTitle("TFormAutoQ\r\n");
        window.show();
        QCOMPARE(boxes_.size(), 1);
        QCOMPARE(window.windowTitle(), QStringLiteral("TFormAutoQ"));
        QVERIFY(!window.ADOConnectionTarget->Connected());
        // Nothing is retried until the window is shown again; the run flag is clear.
        RunCounter counter;
        counter.watch(window.ProgressBar0);
        setTimerEnabled(window.Timer0, true);
        QTRY_COMPARE(counter.runs, 1);
        QCOMPARE(boxes_.size(), 1);
    }

    void timerChainAndRun() {
        auto window = shownWindow("T\r\n\r\n\r\n");
        RunCounter counter;
        counter.watch(window->ProgressBar0);
        // The main window's "Run" twice in a row.
        setTimerEnabled(window->Timer0, true);
        setTimerEnabled(window->Timer0, true);
        QTRY_VERIFY(window->Timer1->isActive());
        QVERIFY(!window->Timer0->isActive());
        QTRY_COMPARE(window->ProgressBar0->value(), 1000);
        QCOMPARE(window->ProgressBar0->maximum(), 1000);
        const QRegularExpression clock("^\\d\\d\\D\\d\\d\\D\\d\\d$");
        QVERIFY2(clock.match(window->Panel0->caption()).hasMatch(),
                 qPrintable(window->Panel0->caption()));
        // A further "Run" only restarts the chain: the clock keeps running, no second run.
        setTimerEnabled(window->Timer0, true);
        QTRY_VERIFY(!window->Timer0->isActive());
        QTest::qWait(350);
        QCOMPARE(counter.runs, 1);
        QVERIFY(window->Timer1->isActive());
        // Showing the window again clears the run flag: the next tick starts a run.
        window->hide();
        window->show();
        QTRY_COMPARE(counter.runs, 2);
    }

    void runButtonBeforeRun() {
        auto window = shownWindow("T\r\n\r\n\r\n");
        RunCounter counter;
        counter.watch(window->ProgressBar0);
        QTest::mouseClick(window->SBRun, Qt::LeftButton);
        QCOMPARE(counter.runs, 1);
        QCOMPARE(window->ProgressBar0->value(), 1000);
        QVERIFY(window->Panel0->caption().isEmpty());
        setTimerEnabled(window->Timer0, true);
        QTRY_VERIFY(!window->Panel0->caption().isEmpty());
        QTest::qWait(350);
        QCOMPARE(counter.runs, 1);
    }

    void nestedRunRestartsTheBar() {
        setJobStepPause(std::chrono::milliseconds(1));
        auto window = shownWindow("T\r\n\r\n\r\n");
        RunCounter counter;
        counter.watch(window->ProgressBar0);
        QTimer::singleShot(150, window->SBRun, [&] { window->SBRun->click(); });
        window->SBRunClick(nullptr);
        QCOMPARE(counter.runs, 2);
        // The outer run reached some step, the inner one restarted at 0 and filled the bar.
        const qsizetype restart = counter.values.lastIndexOf(0);
        QVERIFY(restart > 1);
        QVERIFY(counter.values[restart - 1] > 1 && counter.values[restart - 1] < 1000);
        QList<int> inner = counter.values.mid(restart);
        QCOMPARE(inner.size(), 1001);
        QCOMPARE(inner.last(), 1000);
        QVERIFY(std::is_sorted(inner.begin(), inner.end()));
    }

    // A base job window's job, which processes no events, runs whole inside this window's run,
    // and this run stands still meanwhile.
    void baseJobRunsInsideTheRun() {
        setJobStepPause(std::chrono::milliseconds(1));
        auto window = shownWindow("T\r\n\r\n\r\n");
        TFormAuto job(nullptr);
        auto jobBar = job.findChild<QProgressBar*>(QStringLiteral("ProgressBar0"));
        QList<int> runPositionsDuringJob;
        connect(jobBar, &QProgressBar::valueChanged, this,
                [&] { runPositionsDuringJob << window->ProgressBar0->value(); });
        QTimer::singleShot(100, &job, [&] { job.Panel0Click(nullptr); });
        window->SBRunClick(nullptr);
        QCOMPARE(jobBar->value(), 1000);
        QVERIFY(runPositionsDuringJob.size() >= 1000);
        const int first = runPositionsDuringJob.first();
        QVERIFY(first > 0 && first < 1000);
        QVERIFY(std::all_of(runPositionsDuringJob.begin(), runPositionsDuringJob.end(),
                            [&](int v) { return v == first; }));
        QCOMPARE(window->ProgressBar0->value(), 1000);
    }

    void closeDuringRun_data() {
        QTest::addColumn<bool>("deleteOwner");
        QTest::newRow("closed, freed by its close handler") << false;
        QTest::newRow("freed with its owner") << true;
    }

    void closeDuringRun() {
        QFETCH(bool, deleteOwner);
        setJobStepPause(std::chrono::milliseconds(2));
        QPointer<TForm> owner = new TForm(nullptr);
        QPointer<TFormAutoQ> window = new TFormAutoQ(owner);
        window->OnClose = [](TForm*, CloseAction& action) { action = CloseAction::Free; };
        window->setWindowTitle("TFormAutoQ\r\n\r\n\r\n");
        window->show();
        int highest = 0;
        connect(window->ProgressBar0, &QProgressBar::valueChanged, this,
                [&](int v) { highest = std::max(highest, v); });
        // The run starts from the timer chain, as in the program, and the close comes from an
        // event the run processes.
        QTimer::singleShot(400, this, [&] {
            if (deleteOwner)
                delete owner.data();
            else
                window->close();
        });
        setTimerEnabled(window->Timer0, true);
        QTRY_VERIFY(window.isNull());
        QVERIFY(highest > 0);
        QVERIFY2(highest < 1000, "the run went on after its window was closed");
        delete owner.data();
    }
};

QUORVANE_TEST_MAIN(TestAutoQ)
#include "tst_autoq.moc"
