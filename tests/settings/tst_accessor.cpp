#include "TestMain.h"

#include "Error.h"
#include "RawStore.h"
#include "RegistryAccessor.h"

#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace {

// The message of the Error that fn raises, or "<no error>".
template <typename Fn> QString errorOf(Fn fn) {
    try {
        fn();
    } catch (const Error& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

} // namespace

class TestAccessor : public QObject {
    Q_OBJECT

    ScratchStore scratch_;
    QString store_;

private slots:
    void init() { store_ = scratch_.open(); }
    void cleanup() { scratch_.close(); }

    void openKeyCreatesOnlyWhenAsked() {
        RegistryAccessor reg;
        QCOMPARE(reg.access(), KEY_ALL_ACCESS);
        QVERIFY(!reg.openKey("Quorvane\\A", false));
        QVERIFY(!reg.hasCurrentKey());
        QVERIFY(!reg.keyExists("Quorvane\\A"));
        QVERIFY(reg.openKey("Quorvane\\A", true));
        QVERIFY(reg.hasCurrentKey());
        QVERIFY(reg.keyExists("Quorvane\\A"));
        QVERIFY(reg.openKey("quorvane\\a", false));
        reg.writeString("Title", "Function A");
        QCOMPARE(raw("Quorvane\\A", "Title"), QByteArray("Function A", 11));
    }

    void failedOpenLeavesCurrentKey() {
        RegistryAccessor reg;
        QVERIFY(reg.openKey("Quorvane\\A", true));
        QVERIFY(!reg.openKey("Quorvane\\Missing", false));
        QVERIFY(!reg.openKey("\\Quorvane\\B", true));
        QVERIFY(!reg.openKeyReadOnly("Quorvane\\Missing"));
        QCOMPARE(reg.access(), KEY_ALL_ACCESS);
        QVERIFY(reg.hasCurrentKey());
        reg.writeString("Title", "still A");
        QCOMPARE(raw("Quorvane\\A", "Title"), QByteArray("still A", 8));
        QVERIFY(!reg.keyExists("Quorvane\\Missing"));
    }

    void keyExistsAndCreateKeyKeepCurrentKey() {
        RegistryAccessor reg;
        QVERIFY(reg.openKey("Quorvane", true));
        QVERIFY(!reg.keyExists("Quorvane\\B"));
        QVERIFY(reg.createKey("Quorvane\\B"));
        QVERIFY(reg.createKey("Quorvane\\B")); // an existing key is simply opened
        QVERIFY(reg.keyExists("Quorvane\\B"));
        QVERIFY(!reg.valueExists("Title"));
        reg.writeString("Title", "root");
        QCOMPARE(raw("Quorvane", "Title"), QByteArray("root", 5));
        QCOMPARE(raw("Quorvane\\B", "Title"), QByteArray("<error 2>"));
    }

    void createKeyFailure_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("readOnlyStore");
        QTest::newRow("leading backslash") << "\\Quorvane\\A" << false;
        QTest::newRow("read-only store") << "Quorvane\\C" << true;
    }
    void createKeyFailure() {
        QFETCH(QString, path);
        QFETCH(bool, readOnlyStore);
        RegistryAccessor reg;
        QVERIFY(reg.createKey("Quorvane"));
        if (readOnlyStore)
            QVERIFY(QFile::setPermissions(store_, QFile::ReadOwner));
        QCOMPARE(errorOf([&] { reg.createKey(path); }), "Failed to create key " + path);
    }

    void noCurrentKey() {
        RegistryAccessor reg;
        putRaw("Quorvane\\A", "Title", REG_SZ, QByteArray("x", 2));
        QVERIFY(reg.openKey("Quorvane\\A", false));
        reg.closeKey();
        QVERIFY(!reg.hasCurrentKey());
        QVERIFY(!reg.valueExists("Title"));
        QCOMPARE(reg.readString("Title"), QString());
        QCOMPARE(errorOf([&] { reg.writeString("Title", "y"); }),
                 QStringLiteral("Failed to set data for 'Title'"));
        QCOMPARE(raw("Quorvane\\A", "Title"), QByteArray("x", 2));
    }

    void readString_data() {
        QTest::addColumn<DWORD>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("result"); // the text, or the error raised
        QTest::newRow("text") << REG_SZ << QByteArray("Function A", 11) << "Function A";
        QTest::newRow("single zero byte") << REG_SZ << QByteArray(1, '\0') << "";
        QTest::newRow("size 0") << REG_SZ << QByteArray() << "";
        QTest::newRow("zero byte inside") << REG_SZ << QByteArray("ab\0cd", 6) << "ab";
        QTest::newRow("no terminating zero") << REG_SZ << QByteArray("abc") << "abc";
        QTest::newRow("CR LF") << REG_SZ << QByteArray("a\r\nb\r\n", 7) << "a\r\nb\r\n";
        QTest::newRow("UTF-8") << REG_SZ << QByteArray("細明體", 10) << "細明體";
        QTest::newRow("expandable, raw")
            << REG_EXPAND_SZ << QByteArray("%HOME%\\x", 9) << "%HOME%\\x";
        QTest::newRow("dword") << REG_DWORD << QByteArray("\1\0\0\0", 4)
                               << "Invalid data type for 'Title'";
        QTest::newRow("binary") << REG_BINARY << QByteArray("abc", 4)
                                << "Invalid data type for 'Title'";
        QTest::newRow("multi") << REG_MULTI_SZ << QByteArray("a\0\0", 3)
                               << "Invalid data type for 'Title'";
        QTest::newRow("empty binary") << REG_BINARY << QByteArray() << "";
    }
    void readString() {
        QFETCH(DWORD, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, result);
        putRaw("Quorvane\\A", "Title", type, data);
        RegistryAccessor reg;
        QVERIFY(reg.openKeyReadOnly("Quorvane\\A"));
        QVERIFY(reg.valueExists("title"));
        QString got;
        QString error = errorOf([&] { got = reg.readString("Title"); });
        QCOMPARE(error == "<no error>" ? got : error, result);
        QCOMPARE(reg.readString("Missing"), QString());
    }

    void readFailureRaises() {
        putRaw("Quorvane\\A", "Title", REG_SZ, QByteArray("x", 2));
        RegistryAccessor writer(KEY_SET_VALUE);
        QVERIFY(writer.openKey("Quorvane\\A", false));
        QCOMPARE(errorOf([&] { writer.readString("Title"); }),
                 QStringLiteral("Failed to get data for 'Title'"));

        RegistryAccessor reg;
        QVERIFY(reg.openKey("Quorvane\\A", false));
        QCOMPARE(RegDeleteTreeA(HKEY_CURRENT_USER, "Quorvane\\A"), ERROR_SUCCESS);
        QCOMPARE(errorOf([&] { reg.readString("Title"); }),
                 QStringLiteral("Failed to get data for 'Title'"));
        QCOMPARE(errorOf([&] { reg.writeString("Title", "y"); }),
                 QStringLiteral("Failed to set data for 'Title'"));
    }

    void writeString_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("text") << "Function A" << QByteArray("Function A", 11);
        QTest::newRow("empty") << "" << QByteArray(1, '\0');
        QTest::newRow("CR LF") << "1\r\n2" << QByteArray("1\r\n2", 5);
        QTest::newRow("UTF-8") << "程式" << QByteArray("程式", 7);
        QTest::newRow("long") << QString(100000, 'q') << QByteArray(100000, 'q') + '\0';
    }
    void writeString() {
        QFETCH(QString, text);
        QFETCH(QByteArray, stored);
        RegistryAccessor reg;
        QVERIFY(reg.openKey("Quorvane\\A", true));
        reg.writeString("01", "old text that is longer");
        reg.writeString("01", text);
        DWORD type = REG_NONE;
        QCOMPARE(raw("Quorvane\\A", "01", &type), stored);
        QCOMPARE(type, REG_SZ);
        QCOMPARE(reg.readString("01"), text);
    }

    void writeRefused() {
        putRaw("Quorvane\\A", "Title", REG_SZ, QByteArray("x", 2));
        {
            RegistryAccessor reg;
            QVERIFY(reg.openKeyReadOnly("Quorvane\\A"));
            QCOMPARE(errorOf([&] { reg.writeString("Title", "y"); }),
                     QStringLiteral("Failed to set data for 'Title'"));
        }
        QVERIFY(QFile::setPermissions(store_, QFile::ReadOwner));
        RegistryAccessor reg;
        QVERIFY(!reg.openKey("Quorvane\\A", false));
        QVERIFY(reg.openKeyReadOnly("Quorvane\\A"));
        QCOMPARE(reg.readString("Title"), QStringLiteral("x"));
        QCOMPARE(errorOf([&] { reg.writeString("Title", "y"); }),
                 QStringLiteral("Failed to set data for 'Title'"));
        QCOMPARE(raw("Quorvane\\A", "Title"), QByteArray("x", 2));
    }

    void readOnlyFallback_data() {
        QTest::addColumn<REGSAM>("denied");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<REGSAM>("mask");
        QTest::newRow("KEY_READ") << REGSAM(0) << true << KEY_READ;
        QTest::newRow("second mask")
            << KEY_NOTIFY << true
            << (STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS);
        QTest::newRow("KEY_QUERY_VALUE alone")
            << (KEY_NOTIFY | KEY_ENUMERATE_SUB_KEYS) << true << KEY_QUERY_VALUE;
        QTest::newRow("all refused") << KEY_QUERY_VALUE << false << KEY_ALL_ACCESS;
    }
    void readOnlyFallback() {
        QFETCH(REGSAM, denied);
        QFETCH(bool, opens);
        QFETCH(REGSAM, mask);
        putRaw("Quorvane\\A", "Title", REG_SZ, QByteArray("Function A", 11));
        putRaw("Quorvane\\B", "Title", REG_SZ, QByteArray("Function B", 11));
        RegistryAccessor reg;
        QVERIFY(reg.openKey("Quorvane\\B", false));
        registry::setDeniedRights(denied);
        QCOMPARE(reg.openKeyReadOnly("Quorvane\\A"), opens);
        QCOMPARE(reg.access(), mask);
        QCOMPARE(reg.readString("Title"), opens ? "Function A" : "Function B");
        registry::setDeniedRights(0);
        // The mask that succeeded is used by the next open.
        QCOMPARE(reg.openKey("Quorvane\\B", true), true);
        if (opens)
            QCOMPARE(errorOf([&] { reg.writeString("Title", "x"); }),
                     QStringLiteral("Failed to set data for 'Title'"));
    }

    void keyExistsUsesNarrowMask() {
        putRaw("Quorvane\\A", "Title", REG_SZ, QByteArray(1, '\0'));
        RegistryAccessor reg;
        registry::setDeniedRights(KEY_NOTIFY | KEY_SET_VALUE);
        QVERIFY(reg.keyExists("Quorvane\\A"));
        registry::setDeniedRights(KEY_ENUMERATE_SUB_KEYS);
        QVERIFY(!reg.keyExists("Quorvane\\A"));
    }

    void saveKeyOfMissingKey() {
        RegistryAccessor reg;
        QVERIFY(!reg.saveKey("Quorvane", scratch_.filePath("export")));
        QVERIFY(!QFile::exists(scratch_.filePath("export")));
    }

    void damagedStoreNamesTheFile() {
        QFile f(store_);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(3000, 'Z'));
        f.close();
        QString error = errorOf([] { RegistryAccessor::checkStore(); });
        QVERIFY2(error.contains(store_), qPrintable(error));
        RegistryAccessor reg;
        QVERIFY(!reg.openKey("Quorvane", true));
        QCOMPARE(errorOf([&] { reg.createKey("Quorvane"); }),
                 QStringLiteral("Failed to create key Quorvane"));
        QCOMPARE(f.size(), 3000);
    }
};

QUORVANE_TEST_MAIN(TestAccessor)
#include "tst_accessor.moc"
