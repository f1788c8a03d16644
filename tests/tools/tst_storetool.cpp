#include "TestMain.h"

#include "Drives.h"
#include "RawStore.h"
#include "Registry.h"
#include "WriterText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <unistd.h>

#include <map>
#include <memory>

namespace {

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

QString binDir() {
    return qEnvironmentVariable("QUORVANE_BIN_DIR");
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestStoreTool : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString store_;

    Run tool(const QStringList& args, const QByteArray& input = QByteArray(),
             bool withStore = true) {
        QProcess p;
        p.start(binDir() + "/src/tools/quorvane-reg",
                withStore ? QStringList{"--store", store_} + args : args);
        Run r;
        if (!p.waitForStarted())
            return r;
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

private slots:
    void initTestCase() { QVERIFY2(!binDir().isEmpty(), "QUORVANE_BIN_DIR is not set"); }
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        store_ = dir_->filePath("registry.db");
        registry::setStoreFile(store_.toStdString());
    }
    void cleanup() {
        if (QFile::exists(store_))
            QFile::setPermissions(store_, QFile::ReadOwner | QFile::WriteOwner);
    }

    void addStoresAndQueryShows_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<DWORD>("storedType");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("text") << "REG_SZ"
                              << "Function A" << QByteArray("Function A", 11) << REG_SZ
                              << QByteArray("REG_SZ    Function A");
        QTest::newRow("empty text")
            << ""
            << "" << QByteArray(1, '\0') << REG_SZ << QByteArray("REG_SZ    ");
        QTest::newRow("CR LF") << "reg_sz"
                               << "line 1\\r\\nline 2" << QByteArray("line 1\r\nline 2", 15)
                               << REG_SZ << QByteArray("REG_SZ    line 1\\r\\nline 2");
        QTest::newRow("escapes") << "REG_SZ"
                                 << "C:\\\\data\\\\x.txt\\t\\x41\\0z"
                                 << QByteArray("C:\\data\\x.txt\tA\0z", 18) << REG_SZ
                                 << QByteArray("REG_SZ    C:\\\\data\\\\x.txt\\tA\\0z");
        QTest::newRow("UTF-8") << "REG_SZ"
                               << "程式尚未建立！" << QByteArray("程式尚未建立！", 22) << REG_SZ
                               << QByteArray("REG_SZ    程式尚未建立！");
        QTest::newRow("expandable") << "REG_EXPAND_SZ"
                                    << "%HOME%\\\\x" << QByteArray("%HOME%\\x", 9) << REG_EXPAND_SZ
                                    << QByteArray("REG_EXPAND_SZ    %HOME%\\\\x");
        QTest::newRow("dword decimal") << "REG_DWORD"
                                       << "4294967295" << QByteArray("\xff\xff\xff\xff", 4)
                                       << REG_DWORD << QByteArray("REG_DWORD    0xffffffff");
        QTest::newRow("dword hex") << "REG_DWORD"
                                   << "0x2A" << QByteArray("\x2a\0\0\0", 4) << REG_DWORD
                                   << QByteArray("REG_DWORD    0x0000002a");
        QTest::newRow("binary") << "REG_BINARY"
                                << "01 ff20" << QByteArray("\x01\xff\x20", 3) << REG_BINARY
                                << QByteArray("REG_BINARY    01FF20");
        QTest::newRow("binary of no bytes")
            << "REG_BINARY"
            << "" << QByteArray() << REG_BINARY << QByteArray("REG_BINARY    ");
    }
    void addStoresAndQueryShows() {
        QFETCH(QString, type);
        QFETCH(QString, data);
        QFETCH(QByteArray, stored);
        QFETCH(DWORD, storedType);
        QFETCH(QByteArray, shown);
        QStringList args{"add", "HKCU\\Quorvane\\A", "/v", "Title", "/d", data};
        if (!type.isEmpty())
            args << "/t" << type;
        Run r = tool(args);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.err, QByteArray());
        DWORD readType = REG_NONE;
        QCOMPARE(raw("Quorvane\\A", "Title", &readType), stored);
        QCOMPARE(readType, storedType);
        r = tool({"query", "HKEY_CURRENT_USER\\Quorvane\\A", "/v", "TITLE"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, "HKEY_CURRENT_USER\\Quorvane\\A\n    TITLE    " + shown + "\n");
    }

    void queryListsValuesAndSubkeys() {
        putRaw("Quorvane\\A", "Title", REG_SZ, QByteArray("Function A", 11));
        putRaw("Quorvane\\A", "", REG_SZ, QByteArray("default", 8));
        putRaw("Quorvane\\A", "Odd", REG_SZ, QByteArray("\xff\x01\\", 4));
        putRaw("Quorvane\\A\\b", "x", REG_SZ, QByteArray(1, '\0'));
        putRaw("Quorvane\\A\\C", "x", REG_SZ, QByteArray(1, '\0'));
        Run r = tool({"query", "hkcu\\quorvane\\a"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("HKEY_CURRENT_USER\\quorvane\\a\n"
                                   "    Title    REG_SZ    Function A\n"
                                   "    (Default)    REG_SZ    default\n"
                                   "    Odd    REG_SZ    \\xff\\x01\\\\\n"
                                   "\n"
                                   "HKEY_CURRENT_USER\\quorvane\\a\\b\n"
                                   "HKEY_CURRENT_USER\\quorvane\\a\\C\n"));
        r = tool({"query", "HKCU\\Quorvane\\A", "/ve"});
        QCOMPARE(r.out, QByteArray("HKEY_CURRENT_USER\\Quorvane\\A\n"
                                   "    (Default)    REG_SZ    default\n"));
        r = tool({"query", "HKCU"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("HKEY_CURRENT_USER\n\nHKEY_CURRENT_USER\\Quorvane\n"));
    }

    void replaceNeedsForce() {
        QCOMPARE(tool({"add", "HKCU\\Quorvane\\A", "/v", "Title", "/d", "old"}).code, 0);
        Run r = tool({"add", "HKCU\\Quorvane\\A", "/v", "title", "/d", "new"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("already exists") && r.err.contains("/f"), r.err);
        QCOMPARE(raw("Quorvane\\A", "Title"), QByteArray("old", 4));
        r = tool({"add", "HKCU\\Quorvane\\A", "/v", "title", "/t", "REG_DWORD", "/d", "7", "/f"});
        QCOMPARE(r.code, 0);
        DWORD type = REG_NONE;
        QCOMPARE(raw("Quorvane\\A", "Title", &type), QByteArray("\7\0\0\0", 4));
        QCOMPARE(type, REG_DWORD);
    }

    // The save reports what happened; the hive itself is checked with the writer's own tests.
    void saveReportsSuccessAndFailure() {
        QCOMPARE(tool({"add", "HKCU\\Quorvane\\A", "/v", "Title", "/d", "Function A"}).code, 0);
        const QString file = dir_->filePath("settings.hiv");
        Run r = tool({"save", "HKCU\\Quorvane", "Z:" + file});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains("successfully"), r.out);
        QFile hive(file);
        QVERIFY(hive.open(QIODevice::ReadOnly));
        const QByteArray written = hive.readAll();
        QVERIFY(written.startsWith("regf"));
        hive.close();

        r = tool({"save", "HKCU\\Quorvane", file}); // a host path
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("already exists") && r.err.contains(file.toUtf8()), r.err);
        QVERIFY(hive.open(QIODevice::ReadOnly));
        QCOMPARE(hive.readAll(), written);

        r = tool({"save", "HKCU\\Missing", "Z:" + dir_->filePath("other.hiv")});
        QCOMPARE(r.code, 1);
        QVERIFY(!QFile::exists(dir_->filePath("other.hiv")));
    }

    // Files are host paths too, and --store may stand anywhere on the command line.
    void saveTakesHostPathsAndOptionsAnywhere() {
        putRaw("Quorvane\\A", "Title", REG_SZ, QByteArray("Function A", 11));
        const QString file = dir_->filePath("host.hiv");
        Run r = tool({"save", "HKCU\\Quorvane", file, "--store", store_}, QByteArray(), false);
        QVERIFY2(r.code == 0, r.err);
        QVERIFY(fileBytes(file).startsWith("regf"));
        r = tool({"query", "HKCU\\Quorvane\\A", "--store=" + store_}, QByteArray(), false);
        QVERIFY2(r.code == 0 && r.out.contains("Function A"), r.err);
    }

    // A value that is no UTF-8 is exported with each such byte replaced, and named in a warning.
    void saveWarnsOfTextThatIsNoUtf8() {
        putRaw("Quorvane\\A", "Title", REG_SZ, QByteArray("Function A", 11));
        putRaw("Quorvane\\B", "01", REG_SZ, QByteArray("\xb4\xfa\xb8\xd5", 5));
        const QString file = dir_->filePath("big5.hiv");
        Run r = tool({"save", "HKCU\\Quorvane", file});
        QVERIFY2(r.code == 0, r.err);
        QVERIFY(fileBytes(file).startsWith("regf"));
        QVERIFY2(r.err.contains("WARNING: the value 01 in HKEY_CURRENT_USER\\Quorvane\\B holds "
                                "text that is not UTF-8"),
                 r.err);
        QCOMPARE(r.err.count("WARNING"), 1);
    }

    // An export that fails leaves nothing behind and says what failed on which file.
    void saveFailureLeavesNothing_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("drive that maps to nothing") << "unmapped";
        QTest::newRow("file-size limit") << "limit";
        QTest::newRow("read-only directory") << "locked";
    }
    void saveFailureLeavesNothing() {
        QFETCH(QString, how);
        putRaw("Quorvane\\A", "Big", REG_BINARY, QByteArray(200000, 'b'));
        registry::closeConnections();
        const QString exe = binDir() + "/src/tools/quorvane-reg";
        QProcess p;
        QString target;
        QByteArray expected;
        if (how == "unmapped") {
            QChar letter;
            for (char c = 'Y'; c > 'C' && letter.isNull(); --c)
                if (drives::driveRoot(QChar(c)).isEmpty())
                    letter = QChar(c);
            QVERIFY(!letter.isNull());
            const QString name = "quorvane-unmapped-" + QString::number(getpid());
            target = "/" + name;
            p.start(exe,
                    {"--store", store_, "save", "HKCU\\Quorvane", QString(letter) + ":\\" + name});
            expected = "cannot find the path specified";
        } else if (how == "limit") {
            target = dir_->filePath("limited.hiv");
            p.start("sh", {"-c", "ulimit -f 100; exec \"$0\" \"$@\"", exe, "--store", store_,
                           "save", "HKCU\\Quorvane", target});
            expected = ("Cannot write \"" + target + "\": File too large").toUtf8();
        } else {
            // The owner's permissions bind only a user other than root.
            QDir(dir_->path()).mkdir("locked");
            target = dir_->filePath("locked/x.hiv");
            // The other user reads the store, which takes a shared-memory file beside it.
            QFile::setPermissions(dir_->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadOther |
                                                    QFile::WriteOther | QFile::ExeOther);
            QFile::setPermissions(store_, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
            QFile::setPermissions(dir_->filePath("locked"), QFile::ReadOwner | QFile::ExeOwner |
                                                                QFile::ReadOther | QFile::ExeOther);
            QStringList args{"--store", store_, "save", "HKCU\\Quorvane", target};
            if (geteuid() == 0)
                p.start("setpriv",
                        QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", exe} +
                            args);
            else
                p.start(exe, args);
            expected =
                ("Cannot create a file in \"" + dir_->filePath("locked") + "\": Permission denied")
                    .toUtf8();
        }
        QVERIFY(p.waitForFinished(60000));
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains(expected), err);
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(QDir(QFileInfo(target).path())
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                     .filter("hiv"),
                 QStringList());
    }

    // An export killed at any moment leaves either the whole file or nothing, never a part of
    // it and never a temporary file.
    void killedSaveLeavesNoPart() {
        for (int i = 0; i < 8; ++i)
            putRaw("Quorvane\\A", QByteArray::number(i).constData(), REG_BINARY,
                   QByteArray(4000000, char('a' + i)));
        registry::closeConnections();
        QDir(dir_->path()).mkdir("out");
        const QDir out(dir_->filePath("out"));
        QRandomGenerator random(77);
        int whole = 0;
        for (int round = 0; round < 8; ++round) {
            const QString target = out.filePath(QString::number(round) + ".hiv");
            QProcess p;
            p.start(binDir() + "/src/tools/quorvane-reg",
                    {"--store", store_, "save", "HKCU\\Quorvane", target});
            QVERIFY(p.waitForStarted());
            QThread::usleep(random.bounded(0, 1500000));
            p.kill();
            QVERIFY(p.waitForFinished());
            const QStringList left =
                out.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
            if (QFileInfo::exists(target)) {
                ++whole;
                QVERIFY(fileBytes(target).size() > 32000000);
                QVERIFY(fileBytes(target).startsWith("regf"));
                QFile::remove(target);
            }
            QVERIFY2(
                out.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty(),
                qPrintable(left.join(' ')));
        }
        qInfo("%d of 8 killed exports had finished", whole);
    }

    // Every verb on one tree: save and restore, export and import (both forms) give back the
    // tree that compare finds identical; a change makes compare say where and exit with 2.
    void verbsKeepTheTree() {
        const QString k = "HKCU\\Quorvane";
        for (const QStringList& add :
             {QStringList{"add", k + "\\A", "/v", "Title", "/d", "中文\\r\\n第二行"},
              QStringList{"add", k + "\\A", "/v", "Count", "/t", "REG_DWORD", "/d", "42"},
              QStringList{"add", k + "\\A\\Deep", "/ve", "/t", "REG_BINARY", "/d", "00ff10"},
              QStringList{"add", k + "\\B", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%HOME%"},
              QStringList{"add", k + "\\B", "/v", "Empty", "/d", ""}})
            QCOMPARE(tool(add).code, 0);
        const QString hive = dir_->filePath("q.hiv");
        QCOMPARE(tool({"save", k, hive}).code, 0);
        QCOMPARE(tool({"add", "HKCU\\Restored\\Stale"}).code, 0);
        QCOMPARE(tool({"restore", "HKCU\\Restored", hive}).code, 0);
        Run r = tool({"compare", k, "HKCU\\Restored", "/s"});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.startsWith("Result Compared: Identical\n"), r.out);

        for (const QString& form : {QString(), QString("/a")}) {
            const QString reg = dir_->filePath("q" + form.mid(1) + ".reg");
            QStringList args{"export", k, reg};
            if (!form.isEmpty())
                args << form;
            QCOMPARE(tool(args).code, 0);
            const QByteArray text = fileBytes(reg);
            QVERIFY2(form.isEmpty() ? text.startsWith("\xff\xfeW\0i\0n\0")
                                    : text.startsWith("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\"),
                     text.left(40));
            QCOMPARE(tool({"delete", k, "/f"}).code, 0);
            QCOMPARE(tool({"import", reg}).code, 0);
            r = tool({"compare", k, "HKCU\\Restored", "/s"});
            QVERIFY2(r.code == 0, r.out);
        }

        QCOMPARE(
            tool({"add", "HKCU\\Restored\\A\\Deep", "/ve", "/t", "REG_BINARY", "/d", "01", "/f"})
                .code,
            0);
        QCOMPARE(tool({"compare", k, "HKCU\\Restored"}).code,
                 0); // only values and subkey names
        r = tool({"compare", k, "HKCU\\Restored", "/s"});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.out.contains("< Value: HKEY_CURRENT_USER\\Quorvane\\A\\Deep\n    (Default)    "
                                "REG_BINARY    00FF10\n> Value: HKEY_CURRENT_USER\\Restored\\A\\"
                                "Deep\n    (Default)    REG_BINARY    01\n"),
                 r.out);
        QVERIFY2(r.out.contains("Result Compared: Different"), r.out);
        QCOMPARE(tool({"compare", k + "\\A", "HKCU\\Restored\\A", "/v", "title"}).code, 0);
        QCOMPARE(tool({"compare", k + "\\A\\Deep", "HKCU\\Restored\\A\\Deep", "/ve"}).code, 2);
        QCOMPARE(tool({"compare", k + "\\A", "HKCU\\Restored\\A", "/v", "None"}).code, 1);
    }

    void copyKeys() {
        QCOMPARE(tool({"add", "HKCU\\Src", "/v", "V", "/d", "one"}).code, 0);
        QCOMPARE(tool({"add", "HKCU\\Src\\Sub", "/v", "W", "/d", "two"}).code, 0);
        QCOMPARE(tool({"copy", "HKCU\\Src", "HKCU\\Flat"}).code, 0);
        QCOMPARE(raw("Flat", "V"), QByteArray("one", 4));
        QCOMPARE(raw("Flat\\Sub", "W"), QByteArray("<no key>"));
        QCOMPARE(tool({"copy", "HKCU\\Src", "HKCU\\Tree", "/s"}).code, 0);
        QCOMPARE(tool({"compare", "HKCU\\Src", "HKCU\\Tree", "/s"}).code, 0);

        // Replacing values asks first; "no" changes nothing.
        QCOMPARE(tool({"add", "HKCU\\Tree\\Sub", "/v", "W", "/d", "mine", "/f"}).code, 0);
        Run r = tool({"copy", "HKCU\\Src", "HKCU\\Tree", "/s"}, "no\n");
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("Replace the values"), r.err);
        QCOMPARE(raw("Tree\\Sub", "W"), QByteArray("mine", 5));
        QCOMPARE(tool({"copy", "HKCU\\Src", "HKCU\\Tree", "/s"}, "yes\n").code, 0);
        QCOMPARE(raw("Tree\\Sub", "W"), QByteArray("two", 4));
        QCOMPARE(tool({"add", "HKCU\\Tree\\Sub", "/v", "W", "/d", "mine", "/f"}).code, 0);
        QCOMPARE(tool({"copy", "HKCU\\Src", "HKCU\\Tree", "/s", "/f"}).code, 0);
        QCOMPARE(raw("Tree\\Sub", "W"), QByteArray("two", 4));
    }

    // Damaged files name themselves and where they are wrong, and change nothing.
    void damagedFilesChangeNothing() {
        QCOMPARE(tool({"add", "HKCU\\Quorvane\\A", "/v", "Title", "/d", "kept"}).code, 0);
        const QString hive = dir_->filePath("q.hiv");
        QCOMPARE(tool({"save", "HKCU\\Quorvane", hive}).code, 0);
        QByteArray bytes = fileBytes(hive);
        bytes.truncate(5000);
        QFile f(hive);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        const QString reg = dir_->filePath("bad.reg");
        QFile r4(reg);
        QVERIFY(r4.open(QIODevice::WriteOnly));
        r4.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Quorvane\\A]\r\n\"Title\"=\"new\"\r\n"
                 "[-HKEY_CURRENT_USER\\Quorvane]\r\n\"x\"=hex:zz\r\n");
        r4.close();
        const QByteArray before = fileBytes(store_);
        Run r = tool({"restore", "HKCU\\Quorvane", hive});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(("\"" + hive + "\": the file is too short").toUtf8()), r.err);
        r = tool({"import", reg});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(("\"" + reg + "\", line 6: ").toUtf8()), r.err);
        r = tool({"import", dir_->filePath("none.reg")});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("none.reg") && r.err.contains("No such file"), r.err);
        QCOMPARE(fileBytes(store_), before);
        QCOMPARE(raw("Quorvane\\A", "Title"), QByteArray("kept", 5));
    }

    void addCreatesKeys() {
        Run r = tool({"add", "HKCU\\Quorvane\\B\\Deep\\"});
        QCOMPARE(r.code, 0);
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane\\B\\Deep", 0, KEY_READ, &key),
                 ERROR_SUCCESS);
        RegCloseKey(key);
        QCOMPARE(tool({"add", "HKCU\\Quorvane\\B\\Deep"}).code, 0); // existing: nothing to do
    }

    void badCommandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("message");
        const QString k = "HKCU\\Quorvane\\A";
        QTest::newRow("other root")
            << QStringList{"query", "HKLM\\Software"} << QByteArray("HKEY_CURRENT_USER");
        QTest::newRow("other root, long")
            << QStringList{"add", "HKEY_LOCAL_MACHINE\\Quorvane"} << QByteArray("refused");
        QTest::newRow("unknown type")
            << QStringList{"add", k, "/v", "N", "/t", "REG_QWORD", "/d", "1"}
            << QByteArray("Unknown type");
        for (const char* bad : {"4294967296", "-1", "12abc", "0x", "", "0x1g"})
            QTest::addRow("dword \"%s\"", bad)
                << QStringList{"add", k, "/v", "N", "/t", "REG_DWORD", "/d", bad}
                << QByteArray("REG_DWORD data");
        QTest::newRow("dword without data")
            << QStringList{"add", k, "/v", "N", "/t", "REG_DWORD"} << QByteArray("/d");
        for (const char* bad : {"0g", "abc", "1 2"})
            QTest::addRow("binary \"%s\"", bad)
                << QStringList{"add", k, "/v", "N", "/t", "REG_BINARY", "/d", bad}
                << QByteArray("REG_BINARY data");
        QTest::newRow("unknown escape")
            << QStringList{"add", k, "/v", "N", "/d", "C:\\data"} << QByteArray("escape \\d");
        QTest::newRow("lone backslash")
            << QStringList{"add", k, "/v", "N", "/d", "abc\\"} << QByteArray("backslash");
        QTest::newRow("short \\x")
            << QStringList{"add", k, "/v", "N", "/d", "\\x4"} << QByteArray("two hex digits");
        QTest::newRow("data without name")
            << QStringList{"add", k, "/d", "x"} << QByteArray("/v NAME");
        QTest::newRow("/v without name")
            << QStringList{"query", k, "/v"} << QByteArray("needs an argument");
        QTest::newRow("unknown switch")
            << QStringList{"query", k, "/s"} << QByteArray("Unknown switch /s");
        QTest::newRow("/va on add")
            << QStringList{"add", k, "/va"} << QByteArray("Unknown switch /va");
        QTest::newRow("/v and /va")
            << QStringList{"delete", k, "/v", "N", "/va"} << QByteArray("only one");
        QTest::newRow("two keys") << QStringList{"query", k, k} << QByteArray("one KEY");
        QTest::newRow("export without file") << QStringList{"export", k} << QByteArray("FILE");
        QTest::newRow("save without file") << QStringList{"save", k} << QByteArray("FILE");
        QTest::newRow("restore without file") << QStringList{"restore", k} << QByteArray("FILE");
        QTest::newRow("import without file") << QStringList{"import"} << QByteArray("FILE");
        QTest::newRow("/s on export")
            << QStringList{"export", k, "/tmp/x.reg", "/s"} << QByteArray("Unknown switch /s");
        QTest::newRow("copy one key") << QStringList{"copy", k} << QByteArray("KEY1 and KEY2");
        QTest::newRow("copy onto itself")
            << QStringList{"copy", k, "hkey_current_user\\quorvane\\a"} << QByteArray("itself");
        QTest::newRow("compare /v and /s")
            << QStringList{"compare", k, k, "/v", "N", "/s"} << QByteArray("not both");
        QTest::newRow("delete the root")
            << QStringList{"delete", "HKCU", "/f"} << QByteArray("cannot be deleted");
        QTest::newRow("no command") << QStringList{} << QByteArray("No command");
        QTest::newRow("unknown command") << QStringList{"move", k} << QByteArray("Unknown command");
    }
    void badCommandLine() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, message);
        putRaw("Quorvane\\A", "N", REG_SZ, QByteArray("kept", 5));
        const QByteArray before = fileBytes(store_);
        Run r = tool(args);
        QCOMPARE(r.code, 1); // not 2, which is compare's "different"
        QVERIFY2(r.err.startsWith("ERROR: ") && r.err.contains(message), r.err);
        QVERIFY2(r.err.contains("--help"), r.err);
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(fileBytes(store_), before);
    }

    void storeOptionNeedsFile() {
        Run r = tool({"--store"}, QByteArray(), false);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("--store needs a FILE"), r.err);
        r = tool({"--help"}, QByteArray(), false);
        QCOMPARE(r.code, 0);
        for (const char* word :
             {"query", "add", "delete", "save", "restore", "export", "import", "copy", "compare",
              "REGEDIT4", "/va", "/s", "/a", "REG_EXPAND_SZ", "\\r"})
            QVERIFY2(r.out.contains(word), word);
    }

    void deleteCommands() {
        putRaw("Quorvane\\A", "Title", REG_SZ, QByteArray("t", 2));
        putRaw("Quorvane\\A", "FileName", REG_SZ, QByteArray("f", 2));
        putRaw("Quorvane\\A", "01", REG_SZ, QByteArray("p", 2));
        putRaw("Quorvane\\A\\Sub", "x", REG_SZ, QByteArray("s", 2));

        Run r = tool({"delete", "HKCU\\Quorvane\\A", "/v", "Title"}, "no\n");
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("Nothing was deleted"), r.err);
        QCOMPARE(raw("Quorvane\\A", "Title"), QByteArray("t", 2));
        QCOMPARE(tool({"delete", "HKCU\\Quorvane\\A", "/v", "Title"}).code, 1); // no answer
        QCOMPARE(raw("Quorvane\\A", "Title"), QByteArray("t", 2));

        QCOMPARE(tool({"delete", "HKCU\\Quorvane\\A", "/v", "TITLE"}, "yes\n").code, 0);
        QCOMPARE(raw("Quorvane\\A", "Title"), QByteArray("<error 2>"));
        r = tool({"delete", "HKCU\\Quorvane\\A", "/v", "Title", "/f"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("unable to find"), r.err);

        QCOMPARE(tool({"delete", "HKCU\\Quorvane\\A", "/va", "/f"}).code, 0);
        QCOMPARE(raw("Quorvane\\A", "FileName"), QByteArray("<error 2>"));
        QCOMPARE(raw("Quorvane\\A", "01"), QByteArray("<error 2>"));
        QCOMPARE(raw("Quorvane\\A\\Sub", "x"), QByteArray("s", 2));

        QCOMPARE(tool({"delete", "HKCU\\Quorvane\\A", "/f"}).code, 0);
        QCOMPARE(raw("Quorvane\\A\\Sub", "x"), QByteArray("<no key>"));
        QCOMPARE(raw("Quorvane\\A", "x"), QByteArray("<no key>"));
        r = tool({"delete", "HKCU\\Quorvane\\A", "/f"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("HKEY_CURRENT_USER\\Quorvane\\A") && r.err.contains("unable"),
                 r.err);
    }

    void missingKey_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("query") << QStringList{"query", "HKCU\\Quorvane\\Z"};
        QTest::newRow("query value") << QStringList{"query", "HKCU\\Quorvane\\A", "/v", "None"};
        QTest::newRow("export") << QStringList{"export", "HKCU\\Quorvane\\Z", "C:\\Quorvane"};
        QTest::newRow("save") << QStringList{"save", "HKCU\\Quorvane\\Z", "C:\\Quorvane"};
        QTest::newRow("restore") << QStringList{"restore", "HKCU\\Quorvane\\Z", "C:\\Quorvane"};
        QTest::newRow("copy") << QStringList{"copy", "HKCU\\Quorvane\\Z", "HKCU\\Quorvane\\Y"};
        QTest::newRow("compare") << QStringList{"compare", "HKCU\\Quorvane\\A",
                                                "HKCU\\Quorvane\\Z"};
    }
    void missingKey() {
        QFETCH(QStringList, args);
        putRaw("Quorvane\\A", "Title", REG_SZ, QByteArray("t", 2));
        Run r = tool(args);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("unable to find the specified registry key or value"), r.err);
        QCOMPARE(r.out, QByteArray());
    }

    void readOnlyStore() {
        putRaw("Quorvane\\A", "Title", REG_SZ, QByteArray("t", 2));
        registry::closeConnections(); // what the log holds goes into the file
        QVERIFY(QFile::setPermissions(store_, QFile::ReadOwner));
        const QByteArray before = fileBytes(store_);
        for (const QStringList& args :
             {QStringList{"add", "HKCU\\Quorvane\\A", "/v", "Title", "/d", "x", "/f"},
              QStringList{"add", "HKCU\\Quorvane\\B"},
              QStringList{"delete", "HKCU\\Quorvane\\A", "/f"}}) {
            Run r = tool(args);
            QCOMPARE(r.code, 1);
            QVERIFY2(r.err.contains(("The settings store \"" + store_ +
                                     "\" cannot be written: the file is read-only")
                                        .toUtf8()),
                     r.err);
        }
        QCOMPARE(tool({"query", "HKCU\\Quorvane\\A"}).code, 0);
        QCOMPARE(fileBytes(store_), before);
    }

    void damagedStoreIsLeftAlone_data() {
        QTest::addColumn<QString>("damage");
        QTest::newRow("garbage") << "garbage";
        QTest::newRow("truncated database") << "truncated";
        QTest::newRow("directory") << "directory";
    }
    void damagedStoreIsLeftAlone() {
        QFETCH(QString, damage);
        if (damage == "directory") {
            QVERIFY(QDir().mkpath(store_));
        } else {
            QByteArray content;
            if (damage == "garbage") {
                content.resize(8192);
                QRandomGenerator(11).fillRange(reinterpret_cast<quint32*>(content.data()), 2048);
            } else {
                for (int i = 0; i < 40; ++i)
                    putRaw("Quorvane\\A", QByteArray::number(i).constData(), REG_SZ,
                           QByteArray(700, 'x'));
                registry::closeConnections();
                content = fileBytes(store_);
                content.truncate(content.size() / 2 + 100);
            }
            QFile f(store_);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(content);
        }
        const QByteArray before = fileBytes(store_);
        const QString k = "HKCU\\Quorvane\\A";
        const QString reg = dir_->filePath("ok.reg");
        QFile r4(reg);
        QVERIFY(r4.open(QIODevice::WriteOnly));
        r4.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Quorvane\\A]\r\n\"Title\"=\"new\"\r\n");
        r4.close();
        for (const QStringList& args :
             {QStringList{"query", k}, QStringList{"query", "HKCU"},
              QStringList{"query", k, "/v", "1"}, QStringList{"add", k},
              QStringList{"add", k, "/v", "1", "/d", "y", "/f"},
              QStringList{"delete", k, "/v", "1", "/f"}, QStringList{"delete", k, "/va", "/f"},
              QStringList{"delete", k, "/f"}, QStringList{"export", k, "C:\\Quorvane"},
              QStringList{"save", k, "C:\\Quorvane"}, QStringList{"restore", k, "C:\\Quorvane"},
              QStringList{"import", reg}, QStringList{"copy", k, k + "2"},
              QStringList{"compare", k, k}}) {
            Run r = tool(args);
            QVERIFY2(r.code == 1, qPrintable(args.join(' ')));
            QVERIFY2(r.err.contains(("\"" + store_ + "\"").toUtf8()), r.err);
            QCOMPARE(fileBytes(store_), before);
            QVERIFY(!QFile::exists(store_ + "-journal"));
        }
    }

    // A writer killed at any moment leaves a store that opens, each value its old or a new
    // text.
    void killedWriterLeavesWholeValues() {
        std::map<std::string, long long> current;
        for (long long g = 0; g < 10; ++g) {
            putRaw("Quorvane\\A", writerName(g).c_str(), REG_SZ,
                   QByteArray::fromStdString(writerText(g)) + '\0');
            current[writerName(g)] = g;
        }
        QRandomGenerator random(20260);
        QElapsedTimer clock;
        clock.start();
        int kills = 0;
        int rounds = 0;
        int journals = 0;
        for (; kills < 200 && clock.elapsed() < 120000; ++rounds) {
            const long long first = (rounds + 1) * 1000000LL;
            QProcess p;
            p.start(binDir() + "/tests/tools/storewriter",
                    {store_, "loop", QString::number(first)});
            QVERIFY(p.waitForStarted());
            QVERIFY2(p.waitForReadyRead(60000), p.readAllStandardError());
            QThread::usleep(random.bounded(0, 50000));
            if (p.state() == QProcess::Running) {
                p.kill(); // SIGKILL
                ++kills;
            }
            QVERIFY(p.waitForFinished());
            QVERIFY2(p.exitStatus() == QProcess::CrashExit, p.readAllStandardError());
            journals += QFile::exists(store_ + "-journal") || QFile::exists(store_ + "-wal");

            HKEY key = nullptr;
            QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane\\A", 0, KEY_READ, &key),
                     ERROR_SUCCESS);
            registry::Key tree;
            LONG rc = registry::readTree(key, tree);
            RegCloseKey(key);
            QCOMPARE(rc, ERROR_SUCCESS);
            QCOMPARE(tree.values.size(), size_t(10));
            for (const registry::Value& v : tree.values) {
                const std::string text(v.data.begin(), v.data.end());
                const long long g = std::atoll(text.c_str() + 4);
                const bool same = g == current[v.name];
                const bool fresh = g >= first && g < first + 1000000 && writerName(g) == v.name;
                QVERIFY2(same || fresh, text.substr(0, 40).c_str());
                QVERIFY2(text == writerText(g) + '\0', text.substr(0, 40).c_str());
                current[v.name] = g;
            }
        }
        QVERIFY2(kills >= 50, qPrintable(QString::number(kills)));
        long long written = 0;
        for (auto& [name, g] : current)
            written += g >= 1000000;
        QCOMPARE(written, 10); // each round wrote every value before it was killed
        qInfo("%d kills, %d of them left a journal or log behind", kills, journals);
        putRaw("Quorvane\\A", "after", REG_SZ, QByteArray("ok", 3));
    }

    // Two writers at once, on a store that has no tables yet: each waits for the other's lock.
    void concurrentWritersLoseNothing() {
        const int count = 150;
        QProcess a;
        QProcess b;
        for (auto [p, prefix] : {std::pair{&a, "P"}, std::pair{&b, "Q"}})
            p->start(binDir() + "/tests/tools/storewriter",
                     {store_, "count", prefix, QString::number(count)});
        for (QProcess* p : {&a, &b}) {
            QVERIFY(p->waitForFinished(300000));
            QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0,
                     p->readAllStandardError());
        }
        for (const char* prefix : {"P", "Q"})
            for (int i = 0; i < count; ++i) {
                const QByteArray name = prefix + QByteArray::number(i);
                QCOMPARE(raw("Quorvane\\A", name.constData()),
                         QByteArray(prefix) + ' ' + QByteArray::number(i) + '\0');
            }
    }
};

QUORVANE_TEST_MAIN(TestStoreTool)
#include "tst_storetool.moc"
