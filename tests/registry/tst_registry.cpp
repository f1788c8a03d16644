#include "TestMain.h"

#include "RawStore.h"

#include "Registry.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <memory>

namespace {

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

HKEY create(const char* path, REGSAM sam = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam,
                              nullptr, &key, nullptr);
    return rc == ERROR_SUCCESS ? key : nullptr;
}

LONG setBytes(HKEY key, const char* name, DWORD type, const QByteArray& data) {
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.constData()),
                          static_cast<DWORD>(data.size()));
}

LONG query(HKEY key, const char* name, DWORD& type, QByteArray& data) {
    DWORD size = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS)
        return rc;
    data.resize(size);
    rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    data.resize(size);
    return rc;
}

QStringList subkeyNames(HKEY key) {
    QStringList names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        LONG rc = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) {
            if (rc != ERROR_NO_MORE_ITEMS)
                names << QStringLiteral("<error %1>").arg(rc);
            return names;
        }
        names << QString::fromUtf8(name, size);
    }
}

QStringList valueNames(HKEY key) {
    QStringList names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        LONG rc = RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) {
            if (rc != ERROR_NO_MORE_ITEMS)
                names << QStringLiteral("<error %1>").arg(rc);
            return names;
        }
        names << QString::fromUtf8(name, size);
    }
}

struct KeyCloser {
    void operator()(HKEY__* key) const { RegCloseKey(key); }
};
using Key = std::unique_ptr<HKEY__, KeyCloser>;

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT

    ScratchStore scratch_;
    QString store_;

private slots:
    void init() { store_ = scratch_.open(); }
    void cleanup() { scratch_.close(); }

    void missingKeysAndValues() {
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane\\A", 0, KEY_READ, &key),
                 ERROR_FILE_NOT_FOUND);
        QVERIFY(!key);
        Key a(create("Quorvane\\A"));
        QVERIFY(a);
        DWORD size = 0;
        QCOMPARE(RegQueryValueExA(a.get(), "Title", nullptr, nullptr, nullptr, &size),
                 ERROR_FILE_NOT_FOUND);
        QCOMPARE(RegDeleteValueA(a.get(), "Title"), ERROR_FILE_NOT_FOUND);
        QCOMPARE(RegDeleteTreeA(HKEY_CURRENT_USER, "Quorvane\\B"), ERROR_FILE_NOT_FOUND);
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "\\Quorvane", 0, KEY_READ, &key),
                 ERROR_BAD_PATHNAME);
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane\\\\A", 0, KEY_READ, &key),
                 ERROR_BAD_PATHNAME);
    }

    void createReportsDisposition() {
        HKEY key = nullptr;
        DWORD disposition = 0;
        QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, "Quorvane\\A\\Deep", 0, nullptr, 0,
                                 KEY_ALL_ACCESS, nullptr, &key, &disposition),
                 ERROR_SUCCESS);
        QCOMPARE(disposition, REG_CREATED_NEW_KEY);
        RegCloseKey(key);
        QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, "quorvane\\a\\deep", 0, nullptr, 0,
                                 KEY_ALL_ACCESS, nullptr, &key, &disposition),
                 ERROR_SUCCESS);
        QCOMPARE(disposition, REG_OPENED_EXISTING_KEY);
        RegCloseKey(key);
    }

    void invalidHandles() {
        Key a(create("Quorvane\\A"));
        HKEY stale = create("Quorvane\\B");
        QCOMPARE(RegCloseKey(stale), ERROR_SUCCESS);
        const HKEY bogus = reinterpret_cast<HKEY>(std::uintptr_t(0x1234567));
        for (HKEY h : {stale, bogus, static_cast<HKEY>(nullptr)}) {
            DWORD size = 0;
            HKEY sub = nullptr;
            QCOMPARE(RegQueryValueExA(h, "Title", nullptr, nullptr, nullptr, &size),
                     ERROR_INVALID_HANDLE);
            QCOMPARE(RegSetValueExA(h, "Title", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1),
                     ERROR_INVALID_HANDLE);
            QCOMPARE(RegOpenKeyExA(h, "X", 0, KEY_READ, &sub), ERROR_INVALID_HANDLE);
            QCOMPARE(RegCloseKey(h), ERROR_INVALID_HANDLE);
        }
    }

    void readOnlyStoreFile() {
        {
            Key a(create("Quorvane\\A"));
            QCOMPARE(setBytes(a.get(), "Title", REG_SZ, QByteArray("Function A", 11)),
                     ERROR_SUCCESS);
        }
        registry::closeConnections(); // the log's writes go into the file
        QVERIFY(QFile::setPermissions(store_, QFile::ReadOwner | QFile::ReadGroup));
        const QByteArray before = fileBytes(store_);

        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane\\A", 0, KEY_ALL_ACCESS, &key),
                 ERROR_ACCESS_DENIED);
        QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, "Quorvane\\B", 0, nullptr, 0, KEY_READ, nullptr,
                                 &key, nullptr),
                 ERROR_ACCESS_DENIED);
        QCOMPARE(RegDeleteTreeA(HKEY_CURRENT_USER, "Quorvane"), ERROR_ACCESS_DENIED);
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane\\A", 0, KEY_READ, &key), ERROR_SUCCESS);
        Key a(key);
        DWORD type = 0;
        QByteArray data;
        QCOMPARE(query(a.get(), "Title", type, data), ERROR_SUCCESS);
        QCOMPARE(data, QByteArray("Function A", 11));
        QCOMPARE(RegDeleteValueA(a.get(), "Title"), ERROR_ACCESS_DENIED);
        QCOMPARE(fileBytes(store_), before);
    }

    void storeFileReplacedWhileInUse() {
        {
            Key a(create("Quorvane\\A"));
            QCOMPARE(setBytes(a.get(), "Title", REG_SZ, QByteArray("old", 4)), ERROR_SUCCESS);
        }
        QVERIFY(QFile::remove(store_));
        {
            Key a(create("Quorvane\\B"));
            QVERIFY(a);
            QCOMPARE(setBytes(a.get(), "Title", REG_SZ, QByteArray("new", 4)), ERROR_SUCCESS);
        }
        QVERIFY(QFile::exists(store_));
        QCOMPARE(subkeyNames(HKEY_CURRENT_USER), QStringList{"Quorvane"});
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane", 0, KEY_READ, &key), ERROR_SUCCESS);
        Key root(key);
        QCOMPARE(subkeyNames(root.get()), QStringList{"B"});
    }

    void handleRights_data() {
        QTest::addColumn<REGSAM>("sam");
        QTest::addColumn<LONG>("queryResult");
        QTest::addColumn<LONG>("setResult");
        QTest::addColumn<LONG>("enumResult");
        QTest::newRow("KEY_READ") << KEY_READ << ERROR_SUCCESS << ERROR_ACCESS_DENIED
                                  << ERROR_NO_MORE_ITEMS;
        QTest::newRow("KEY_QUERY_VALUE")
            << KEY_QUERY_VALUE << ERROR_SUCCESS << ERROR_ACCESS_DENIED << ERROR_ACCESS_DENIED;
        QTest::newRow("KEY_SET_VALUE")
            << KEY_SET_VALUE << ERROR_ACCESS_DENIED << ERROR_SUCCESS << ERROR_ACCESS_DENIED;
        QTest::newRow("KEY_ALL_ACCESS")
            << KEY_ALL_ACCESS << ERROR_SUCCESS << ERROR_SUCCESS << ERROR_NO_MORE_ITEMS;
    }
    void handleRights() {
        QFETCH(REGSAM, sam);
        QFETCH(LONG, queryResult);
        QFETCH(LONG, setResult);
        QFETCH(LONG, enumResult);
        {
            Key a(create("Quorvane\\A"));
            QCOMPARE(setBytes(a.get(), "Title", REG_SZ, QByteArray("x", 2)), ERROR_SUCCESS);
        }
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane\\A", 0, sam, &key), ERROR_SUCCESS);
        Key a(key);
        DWORD size = 0;
        QCOMPARE(RegQueryValueExA(a.get(), "Title", nullptr, nullptr, nullptr, &size), queryResult);
        QCOMPARE(setBytes(a.get(), "Title", REG_SZ, QByteArray("y", 2)), setResult);
        char name[16];
        size = sizeof name;
        QCOMPARE(RegEnumKeyExA(a.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
                 enumResult);
    }

    void deniedRights_data() {
        QTest::addColumn<REGSAM>("denied");
        QTest::addColumn<REGSAM>("sam");
        QTest::addColumn<LONG>("result");
        QTest::newRow("KEY_READ refused for KEY_NOTIFY")
            << KEY_NOTIFY << KEY_READ << ERROR_ACCESS_DENIED;
        QTest::newRow("narrower mask passes")
            << KEY_NOTIFY << (STANDARD_RIGHTS_READ | KEY_QUERY_VALUE) << ERROR_SUCCESS;
        QTest::newRow("KEY_QUERY_VALUE refused")
            << KEY_QUERY_VALUE << KEY_QUERY_VALUE << ERROR_ACCESS_DENIED;
        QTest::newRow("nothing denied") << REGSAM(0) << KEY_ALL_ACCESS << ERROR_SUCCESS;
    }
    void deniedRights() {
        QFETCH(REGSAM, denied);
        QFETCH(REGSAM, sam);
        QFETCH(LONG, result);
        RegCloseKey(create("Quorvane\\A"));
        registry::setDeniedRights(denied);
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane\\A", 0, sam, &key), result);
        QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, "Quorvane\\A", 0, nullptr, 0, sam, nullptr,
                                 &key, nullptr),
                 result);
        RegCloseKey(key);
    }

    void deleteRefusedWithoutDeleteRight() {
        RegCloseKey(create("Quorvane\\A"));
        registry::setDeniedRights(DELETE_);
        QCOMPARE(RegDeleteTreeA(HKEY_CURRENT_USER, "Quorvane"), ERROR_ACCESS_DENIED);
        QCOMPARE(RegDeleteKeyA(HKEY_CURRENT_USER, "Quorvane\\A"), ERROR_ACCESS_DENIED);
        registry::setDeniedRights(0);
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane\\A", 0, KEY_READ, &key), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    void moreData() {
        Key a(create("Quorvane\\A"));
        const QByteArray text("Function A", 11);
        QCOMPARE(setBytes(a.get(), "Title", REG_SZ, text), ERROR_SUCCESS);
        BYTE buf[32];
        DWORD type = 0;
        DWORD size = 4;
        QCOMPARE(RegQueryValueExA(a.get(), "Title", nullptr, &type, buf, &size), ERROR_MORE_DATA);
        QCOMPARE(size, DWORD(11));
        size = 11;
        QCOMPARE(RegQueryValueExA(a.get(), "Title", nullptr, &type, buf, &size), ERROR_SUCCESS);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buf), 11), text);
        QCOMPARE(type, REG_SZ);

        char name[8];
        DWORD nameSize = 5; // "Title" needs its terminating zero too
        size = sizeof buf;
        QCOMPARE(RegEnumValueA(a.get(), 0, name, &nameSize, nullptr, &type, buf, &size),
                 ERROR_MORE_DATA);
        nameSize = sizeof name;
        size = 3;
        QCOMPARE(RegEnumValueA(a.get(), 0, name, &nameSize, nullptr, &type, buf, &size),
                 ERROR_MORE_DATA);
        QCOMPARE(size, DWORD(11));

        RegCloseKey(create("Quorvane\\A\\Subkey"));
        nameSize = 6;
        QCOMPARE(RegEnumKeyExA(a.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
                 ERROR_MORE_DATA);
        nameSize = 7;
        QCOMPARE(RegEnumKeyExA(a.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
                 ERROR_SUCCESS);
        QCOMPARE(nameSize, DWORD(6));
        QCOMPARE(QByteArray(name), QByteArray("Subkey"));
    }

    void deletedKey() {
        Key b(create("Quorvane\\A\\B"));
        Key a(create("Quorvane\\A"));
        QCOMPARE(RegDeleteTreeA(HKEY_CURRENT_USER, "Quorvane\\A"), ERROR_SUCCESS);
        // A key created again under the same name is another key: the old handles stay dead.
        Key again(create("Quorvane\\A\\B"));
        QVERIFY(again);
        for (HKEY h : {a.get(), b.get()}) {
            DWORD size = 0;
            HKEY sub = nullptr;
            QCOMPARE(RegQueryValueExA(h, "Title", nullptr, nullptr, nullptr, &size),
                     ERROR_KEY_DELETED);
            QCOMPARE(setBytes(h, "Title", REG_SZ, QByteArray("x", 2)), ERROR_KEY_DELETED);
            QCOMPARE(RegCreateKeyExA(h, "C", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
                     ERROR_KEY_DELETED);
            registry::Key tree;
            QCOMPARE(registry::readTree(h, tree), ERROR_KEY_DELETED);
        }
        QCOMPARE(valueNames(again.get()), QStringList());
    }

    void deleteKeyAndTree() {
        Key a(create("Quorvane\\A"));
        RegCloseKey(create("Quorvane\\A\\Sub\\Deeper"));
        QCOMPARE(setBytes(a.get(), "Title", REG_SZ, QByteArray("t", 2)), ERROR_SUCCESS);
        QCOMPARE(RegDeleteKeyA(HKEY_CURRENT_USER, "Quorvane\\A"), ERROR_ACCESS_DENIED);
        QCOMPARE(RegDeleteKeyA(HKEY_CURRENT_USER, "Quorvane\\A\\Sub\\Deeper"), ERROR_SUCCESS);
        RegCloseKey(create("Quorvane\\A\\Sub\\Other"));
        // An empty subkey clears the key: its values and subkeys go, the key stays.
        QCOMPARE(RegDeleteTreeA(a.get(), nullptr), ERROR_SUCCESS);
        QCOMPARE(subkeyNames(a.get()), QStringList());
        QCOMPARE(valueNames(a.get()), QStringList());
        QCOMPARE(setBytes(a.get(), "Title", REG_SZ, QByteArray("u", 2)), ERROR_SUCCESS);
        QCOMPARE(RegDeleteTreeA(HKEY_CURRENT_USER, "QUORVANE"), ERROR_SUCCESS);
        QCOMPARE(subkeyNames(HKEY_CURRENT_USER), QStringList());
    }

    void namesIgnoreCaseKeepSpelling() {
        RegCloseKey(create("Quorvane\\Ärger"));
        Key a(create("quorvane\\ärger"));
        QCOMPARE(subkeyNames(HKEY_CURRENT_USER), QStringList{"Quorvane"});
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "QUORVANE", 0, KEY_READ, &key), ERROR_SUCCESS);
        Key root(key);
        QCOMPARE(subkeyNames(root.get()), QStringList{"Ärger"});

        QCOMPARE(setBytes(a.get(), "FileName", REG_SZ, QByteArray("1", 2)), ERROR_SUCCESS);
        QCOMPARE(setBytes(a.get(), "FILENAME", REG_SZ, QByteArray("2", 2)), ERROR_SUCCESS);
        QCOMPARE(valueNames(a.get()), QStringList{"FileName"});
        DWORD type = 0;
        QByteArray data;
        QCOMPARE(query(a.get(), "filename", type, data), ERROR_SUCCESS);
        QCOMPARE(data, QByteArray("2", 2));
    }

    void valuesKeptAsWritten_data() {
        QTest::addColumn<DWORD>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("text") << REG_SZ << QByteArray("Function A", 11);
        QTest::newRow("empty text") << REG_SZ << QByteArray(1, '\0');
        QTest::newRow("zero byte inside") << REG_SZ << QByteArray("ab\0cd", 6);
        QTest::newRow("CR LF") << REG_SZ << QByteArray("line 1\r\nline 2\r\n", 17);
        QTest::newRow("UTF-8") << REG_SZ << QByteArray("細明體 é", 13);
        QTest::newRow("expandable") << REG_EXPAND_SZ << QByteArray("%HOME%\\x", 9);
        QTest::newRow("dword") << REG_DWORD << QByteArray("\x2a\0\0\x80", 4);
        QTest::newRow("binary of no bytes") << REG_BINARY << QByteArray();
        QTest::newRow("multi") << REG_MULTI_SZ << QByteArray("a\0b\0\0", 5);
        QByteArray big(6 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
        QTest::newRow("six megabytes") << REG_BINARY << big;
    }
    void valuesKeptAsWritten() {
        QFETCH(DWORD, type);
        QFETCH(QByteArray, data);
        {
            Key a(create("Quorvane\\A"));
            QCOMPARE(setBytes(a.get(), "V", type, data), ERROR_SUCCESS);
        }
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane\\A", 0, KEY_READ, &key), ERROR_SUCCESS);
        Key a(key);
        DWORD readType = REG_NONE;
        QByteArray read;
        QCOMPARE(query(a.get(), "V", readType, read), ERROR_SUCCESS);
        QCOMPARE(readType, type);
        QCOMPARE(read.size(), data.size());
        QVERIFY(read == data);
        registry::Key tree;
        QCOMPARE(registry::readTree(a.get(), tree), ERROR_SUCCESS);
        QCOMPARE(tree.values.size(), size_t(1));
        QCOMPARE(tree.values[0].type, type);
        QVERIFY(QByteArray(reinterpret_cast<const char*>(tree.values[0].data.data()),
                           qsizetype(tree.values[0].data.size())) == data);
    }

    void enumerationOrder() {
        Key a(create("Quorvane\\A"));
        for (const char* name : {"b", "C", "a", "Ä"})
            RegCloseKey(create((QByteArray("Quorvane\\A\\") + name).constData()));
        QCOMPARE(subkeyNames(a.get()), (QStringList{"a", "b", "C", "Ä"}));
        for (const char* name : {"Title", "FileName", "01", "18"})
            QCOMPARE(setBytes(a.get(), name, REG_SZ, QByteArray(1, '\0')), ERROR_SUCCESS);
        // Replacing a value keeps its place.
        QCOMPARE(setBytes(a.get(), "title", REG_DWORD, QByteArray(4, '\0')), ERROR_SUCCESS);
        QCOMPARE(valueNames(a.get()), (QStringList{"Title", "FileName", "01", "18"}));

        registry::Key tree;
        QCOMPARE(registry::readTree(HKEY_CURRENT_USER, tree), ERROR_SUCCESS);
        QCOMPARE(tree.subkeys.size(), size_t(1));
        const registry::Key& slot = tree.subkeys[0].subkeys.at(0);
        QCOMPARE(slot.name, std::string("A"));
        QCOMPARE(slot.values.size(), size_t(4));
        QCOMPARE(slot.values[0].name, std::string("Title"));
        QCOMPARE(slot.values[0].type, REG_DWORD);
        QCOMPARE(slot.subkeys.size(), size_t(4));
        QCOMPARE(slot.subkeys[2].name, std::string("C"));
    }

    // Names compare as the platform compares them: each character upper-cased on its own, so
    // "ß" and "SS" are two names, while "ä" and "Ä" are one.
    void namesCompareCharacterByCharacter() {
        Key k(create("Namen"));
        QVERIFY(k);
        Key sharp(create("Namen\\ß"));
        Key upper(create("Namen\\SS"));
        QVERIFY(sharp && upper);
        QCOMPARE(subkeyNames(k.get()), (QStringList{"SS", "ß"}));
        Key umlaut(create("Namen\\ä"));
        DWORD disposition = 0;
        HKEY again = nullptr;
        QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, "Namen\\Ä", 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &again, &disposition),
                 ERROR_SUCCESS);
        RegCloseKey(again);
        QCOMPARE(disposition, REG_OPENED_EXISTING_KEY);
        QCOMPARE(setBytes(k.get(), "ß", REG_SZ, QByteArray("1", 2)), ERROR_SUCCESS);
        QCOMPARE(setBytes(k.get(), "ss", REG_SZ, QByteArray("2", 2)), ERROR_SUCCESS);
        QCOMPARE(valueNames(k.get()), (QStringList{"ß", "ss"}));
        DWORD type = 0;
        QByteArray data;
        QCOMPARE(query(k.get(), "SS", type, data), ERROR_SUCCESS);
        QCOMPARE(data, QByteArray("2", 2));
    }

    // A store written when names were folded with full upper-casing ("ß" as "SS") is folded
    // again by its first write, so that its names keep being found and "SS" becomes a name
    // of its own.
    void storeWithOldFoldsIsFoldedAgain() {
        registry::closeConnections();
        {
            auto db = QSqlDatabase::addDatabase("QSQLITE", "old");
            db.setDatabaseName(store_);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent "
                           "INTEGER NOT NULL, name TEXT NOT NULL, fold TEXT NOT NULL, "
                           "UNIQUE(parent, fold))"));
            QVERIFY(q.exec("CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL, fold "
                           "TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, "
                           "UNIQUE(key, fold))"));
            QVERIFY(q.exec("INSERT INTO keys VALUES(1, 0, '', '')"));
            QVERIFY(q.exec("INSERT INTO keys VALUES(2, 1, 'Straße', 'STRASSE')"));
            QVERIFY(q.exec("INSERT INTO vals VALUES(2, 'Maß', 'MASS', 1, X'3100')"));
            db.close();
        }
        QSqlDatabase::removeDatabase("old");
        Key created(create("STRASSE"));
        QVERIFY(created);
        QCOMPARE(subkeyNames(HKEY_CURRENT_USER), (QStringList{"STRASSE", "Straße"}));
        HKEY old = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "STRAßE", 0, KEY_READ, &old), ERROR_SUCCESS);
        Key k(old);
        DWORD type = 0;
        QByteArray data;
        QCOMPARE(query(k.get(), "MAß", type, data), ERROR_SUCCESS);
        QCOMPARE(data, QByteArray("1", 2));
        QCOMPARE(query(k.get(), "MASS", type, data), ERROR_FILE_NOT_FOUND);
    }

    // Name limits count characters, not bytes: 255 for a key name, 16,383 for a value name;
    // longer names are refused with ERROR_INVALID_PARAMETER and nothing is stored.
    void nameLimitsCountCharacters() {
        const QByteArray longest = QString(255, QChar(0x6E2C)).toUtf8(); // 765 bytes
        Key k(create(longest.constData()));
        QVERIFY(k);
        const QByteArray nested = "Quorvane\\" + longest + "\\" + longest;
        Key deep(create(nested.constData()));
        QVERIFY(deep);
        const QByteArray tooLong = QString(256, QChar(0x6E2C)).toUtf8();
        HKEY key = nullptr;
        QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, tooLong.constData(), 0, nullptr, 0,
                                 KEY_ALL_ACCESS, nullptr, &key, nullptr),
                 ERROR_INVALID_PARAMETER);
        QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, ("Quorvane\\" + tooLong).constData(), 0,
                                 nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                 ERROR_INVALID_PARAMETER);
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, tooLong.constData(), 0, KEY_READ, &key),
                 ERROR_INVALID_PARAMETER);
        QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, QByteArray(256, 'k').constData(), 0, nullptr, 0,
                                 KEY_ALL_ACCESS, nullptr, &key, nullptr),
                 ERROR_INVALID_PARAMETER);

        const QByteArray longestValue = QString(16383, QChar(0x540D)).toUtf8();
        QCOMPARE(setBytes(k.get(), longestValue.constData(), REG_SZ, QByteArray("v", 2)),
                 ERROR_SUCCESS);
        const QByteArray tooLongValue = QString(16384, QChar(0x540D)).toUtf8();
        QCOMPARE(setBytes(k.get(), tooLongValue.constData(), REG_SZ, QByteArray("v", 2)),
                 ERROR_INVALID_PARAMETER);
        registry::Key tree;
        QCOMPARE(registry::readTree(HKEY_CURRENT_USER, tree), ERROR_SUCCESS);
        QCOMPARE(tree.subkeys.size(), size_t(2));
        QCOMPARE(tree.subkeys[1].name, longest.toStdString());
        QCOMPARE(tree.subkeys[1].values.size(), size_t(1));
        QCOMPARE(tree.subkeys[1].values[0].name, longestValue.toStdString());
    }

    // Tables without their top key: the store is reported damaged, naming its file, and is
    // not mistaken for a deleted key.
    void storeWithoutTopKeyIsDamaged() {
        Key(create("Quorvane\\A"));
        registry::closeConnections();
        {
            auto db = QSqlDatabase::addDatabase("QSQLITE", "damage");
            db.setDatabaseName(store_);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec("DELETE FROM keys WHERE id = 1"));
            db.close();
        }
        QSqlDatabase::removeDatabase("damage");
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane", 0, KEY_READ, &key), ERROR_BADDB);
        QCOMPARE(registry::lastStoreError(),
                 "The settings store \"" + store_.toStdString() +
                     "\" cannot be used: it is damaged (its top key is missing)");
    }

    void damagedStoreIsLeftAlone_data() {
        QTest::addColumn<QByteArray>("content");
        QByteArray garbage(5000, Qt::Uninitialized);
        QRandomGenerator(3).fillRange(reinterpret_cast<quint32*>(garbage.data()), 1250);
        QTest::newRow("garbage") << garbage;
        QTest::newRow("text file") << QByteArray("Title=Function A\n");
        QTest::newRow("truncated database") << QByteArray(); // made in the test
        QTest::newRow("another program's database") << QByteArray("foreign");
    }
    void damagedStoreIsLeftAlone() {
        QFETCH(QByteArray, content);
        if (QTest::currentDataTag() == QByteArray("truncated database")) {
            Key a(create("Quorvane\\A"));
            for (int i = 0; i < 40; ++i)
                setBytes(a.get(), QByteArray::number(i).constData(), REG_SZ, QByteArray(500, 'x'));
            a.reset();
            registry::closeConnections();
            content = fileBytes(store_);
            QVERIFY(content.size() > 8192);
            content.truncate(content.size() / 2);
        } else if (content == "foreign") {
            {
                auto db = QSqlDatabase::addDatabase("QSQLITE", "foreign");
                db.setDatabaseName(store_);
                QVERIFY(db.open());
                QVERIFY(QSqlQuery(db).exec("CREATE TABLE notes(text TEXT)"));
                db.close();
            }
            QSqlDatabase::removeDatabase("foreign");
            content = fileBytes(store_);
        }
        if (!content.isEmpty() && fileBytes(store_) != content) {
            QFile f(store_);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }

        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane", 0, KEY_READ, &key), ERROR_BADDB);
        QVERIFY(QString::fromStdString(registry::lastStoreError()).contains(store_));
        QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, "Quorvane\\A", 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &key, nullptr),
                 ERROR_BADDB);
        QVERIFY(QString::fromStdString(registry::lastStoreError()).contains(store_));
        QCOMPARE(RegSetValueExA(HKEY_CURRENT_USER, "Title", 0, REG_SZ,
                                reinterpret_cast<const BYTE*>("x"), 2),
                 ERROR_BADDB);
        QCOMPARE(RegDeleteTreeA(HKEY_CURRENT_USER, "Quorvane"), ERROR_BADDB);
        QCOMPARE(fileBytes(store_), content);
        QVERIFY(!QFile::exists(store_ + "-journal"));
        QVERIFY(!QFile::exists(store_ + "-wal"));

        // A good store afterwards clears the complaint.
        QVERIFY(QFile::remove(store_));
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Quorvane", 0, KEY_READ, &key),
                 ERROR_FILE_NOT_FOUND);
        QCOMPARE(registry::lastStoreError(), std::string());
    }
};

QUORVANE_TEST_MAIN(TestRegistry)
#include "tst_registry.moc"
