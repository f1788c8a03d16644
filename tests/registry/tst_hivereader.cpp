// The hive reader and RegRestoreKeyA: our own hives and hives edited by hivex come back as they
// were stored; damaged hives are refused with the place of the damage, and leave the store alone.
#include "HiveReader.h"
#include "HiveWriter.h"
#include "RawStore.h"
#include "RegTrees.h"
#include "Registry.h"
#include "TestMain.h"

#include <QFile>
#include <QTemporaryDir>

#include <functional>

using trees::key;
using trees::sz;
using trees::value;

using Bytes = QByteArray;
using Damage = std::function<void(Bytes&)>;
Q_DECLARE_METATYPE(Damage)

namespace {

quint32 le32(const Bytes& b, qsizetype at) {
    return quint8(b[at]) | quint8(b[at + 1]) << 8 | quint8(b[at + 2]) << 16 |
           quint32(quint8(b[at + 3])) << 24;
}

void set32(Bytes& b, qsizetype at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (8 * i));
}

void set16(Bytes& b, qsizetype at, quint16 v) {
    b[at] = char(v);
    b[at + 1] = char(v >> 8);
}

// Recomputes the header checksum after a change to the header, so that the damage behind it is
// what the reader meets.
void fixChecksum(Bytes& b) {
    set32(b, 508, hive::headerChecksum(reinterpret_cast<const std::uint8_t*>(b.constData())));
}

Bytes hiveBytes(const registry::Key& tree) {
    std::vector<std::uint8_t> out;
    if (hive::writeHive(tree, hive::currentFileTime(), out) != ERROR_SUCCESS)
        return {};
    return Bytes(reinterpret_cast<const char*>(out.data()), qsizetype(out.size()));
}

LONG read(const Bytes& b, registry::Key& tree, std::string& error) {
    return hive::readHive(reinterpret_cast<const std::uint8_t*>(b.constData()),
                          std::size_t(b.size()), tree, error);
}

// Positions in the small hive below, as file offsets of cell payloads.
struct Small {
    Bytes b;
    qsizetype root, rootList, child, valueList, text, dword, big;
};

// A root with one subkey "Child" holding a text (in its own cell), a DWORD (inline) and a value
// of 20000 bytes (in big-data segments).
Small smallHive() {
    registry::Key root = key("Root");
    registry::Key child = key("Child");
    child.values = {value("text", REG_SZ, sz("hello")), value("dw", REG_DWORD, {1, 2, 3, 4}),
                    value("big", REG_BINARY, std::vector<BYTE>(20000, 0x5a))};
    root.subkeys.push_back(child);
    Small s;
    s.b = hiveBytes(root);
    auto payload = [](quint32 cell) { return qsizetype(4096 + cell + 4); };
    s.root = payload(le32(s.b, 36));
    s.rootList = payload(le32(s.b, s.root + 28));
    s.child = payload(le32(s.b, s.rootList + 4));
    s.valueList = payload(le32(s.b, s.child + 40));
    s.text = payload(le32(s.b, s.valueList));
    s.dword = payload(le32(s.b, s.valueList + 4));
    s.big = payload(le32(s.b, s.valueList + 8));
    return s;
}

QString writeFile(const QString& path, const Bytes& b) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(b) != b.size())
        return {};
    return path;
}

} // namespace

class TestHiveReader : public QObject {
    Q_OBJECT

    ScratchStore store_;

private slots:
    void init() { store_.open(); }
    void cleanup() { store_.close(); }

    // Stored, saved by the writer, read back and restored into another key: the same tree, byte
    // for byte, names, types and order of values included.
    void roundTripOfAHostileTree() {
        const registry::Key tree = trees::hostileTree();
        QCOMPARE(trees::store("Source", tree), ERROR_SUCCESS);
        const registry::Key stored = trees::readBack("Source");
        QCOMPARE(trees::dump(stored), trees::dump(tree));

        HKEY h = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Source", 0, KEY_READ, &h), ERROR_SUCCESS);
        const QString file = store_.filePath("tree.hiv");
        QCOMPARE(RegSaveKeyA(h, ("Z:" + file).toUtf8(), nullptr), ERROR_SUCCESS);
        RegCloseKey(h);

        QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, "Target", 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &h, nullptr),
                 ERROR_SUCCESS);
        QCOMPARE(RegRestoreKeyA(h, ("Z:" + file).toUtf8(), 0), ERROR_SUCCESS);
        RegCloseKey(h);
        QCOMPARE(trees::dump(trees::readBack("Target")), trees::dump(tree));
        // The restored key keeps its own name; the hive's root name is not taken over.
        registry::Key top;
        QCOMPARE(registry::readTree(HKEY_CURRENT_USER, top), ERROR_SUCCESS);
        QCOMPARE(top.subkeys.size(), std::size_t(2));
        QCOMPARE(top.subkeys[1].name, std::string("Target"));
    }

    // Restoring replaces: what the key held before is gone, keys beside it stay.
    void restoreReplacesTheKeysContents() {
        putRaw("Slot\\Old", "stale", REG_SZ, Bytes("x\0", 2));
        putRaw("Slot", "Title", REG_SZ, Bytes("old\0", 4));
        putRaw("Beside", "keep", REG_SZ, Bytes("yes\0", 4));
        registry::Key fresh = key("Anything");
        fresh.values.push_back(value("title", REG_SZ, sz("new")));
        fresh.subkeys.push_back(key("New"));
        const QString file = writeFile(store_.filePath("fresh.hiv"), hiveBytes(fresh));
        HKEY h = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Slot", 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
        QCOMPARE(RegRestoreKeyA(h, ("Z:" + file).toUtf8(), 0), ERROR_SUCCESS);
        RegCloseKey(h);
        QCOMPARE(trees::dump(trees::readBack("Slot")), trees::dump(fresh));
        QCOMPARE(raw("Beside", "keep"), Bytes("yes\0", 4));
        // A read-only handle may not restore.
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Slot", 0, KEY_READ, &h), ERROR_SUCCESS);
        QCOMPARE(RegRestoreKeyA(h, ("Z:" + file).toUtf8(), 0), ERROR_ACCESS_DENIED);
        RegCloseKey(h);
    }

    void damagedHivesAreRefused_data() {
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<QString>("message");
        QTest::addColumn<LONG>("code");
        auto row = [&](const char* name, Damage d, const char* message, LONG code = ERROR_BADDB) {
            QTest::newRow(name) << d << QString(message) << code;
        };
        const Small s = smallHive();
        row(
            "not a hive", [](Bytes& b) { b[0] = 'R'; }, "no registry hive");
        row(
            "cut short", [](Bytes& b) { b.truncate(6000); }, "too short");
        row(
            "checksum", [](Bytes& b) { b[508] = char(b[508] ^ 1); }, "checksum");
        row(
            "version",
            [](Bytes& b) {
                set32(b, 20, 2);
                fixChecksum(b);
            },
            "version 2");
        row(
            "log file",
            [](Bytes& b) {
                set32(b, 28, 1);
                fixChecksum(b);
            },
            "transaction log");
        row(
            "not closed cleanly",
            [](Bytes& b) {
                set32(b, 8, 7);
                fixChecksum(b);
            },
            "not closed cleanly");
        row(
            "bins beyond the file",
            [](Bytes& b) {
                set32(b, 40, 0x100000);
                fixChecksum(b);
            },
            "hive-bins size");
        row(
            "bin offset", [](Bytes& b) { set32(b, 4096 + 4, 4096); }, "wrong offset");
        row(
            "bin size", [](Bytes& b) { set32(b, 4096 + 8, 100); }, "wrong size");
        row(
            "cell size", [](Bytes& b) { set32(b, 4096 + 32, quint32(-12)); }, "wrong size");
        row(
            "cell size past the bin", [](Bytes& b) { set32(b, 4096 + 32, quint32(-0x100000)); },
            "wrong size");
        row(
            "root offset",
            [](Bytes& b) {
                set32(b, 36, 0x7ffffff0);
                fixChecksum(b);
            },
            "no allocated cell");
        row(
            "root is no key", [=](Bytes& b) { b[s.root] = 'x'; }, "no key node");
        row(
            "subkey count", [=](Bytes& b) { set32(b, s.root + 20, 2); }, "claims 2 subkeys");
        row(
            "huge subkey count", [=](Bytes& b) { set32(b, s.root + 20, 0xffffffff); },
            "more than the file holds");
        row(
            "subkey list signature", [=](Bytes& b) { b[s.rootList] = 'z'; }, "unknown signature");
        row(
            "subkey list too long", [=](Bytes& b) { set16(b, s.rootList + 2, 4000); },
            "shorter than its 4000 entries");
        row(
            "cycle",
            [=](Bytes& b) {
                set32(b, s.child + 20, 1);
                set32(b, s.child + 28, le32(b, s.root + 28));
            },
            "used a second time");
        row(
            "key is its own child", [=](Bytes& b) { set32(b, s.rootList + 4, le32(b, 36)); },
            "used a second time");
        row(
            "shared value", [=](Bytes& b) { set32(b, s.valueList + 4, le32(b, s.valueList)); },
            "used a second time");
        row(
            "value count", [=](Bytes& b) { set32(b, s.child + 36, 10); }, "too small");
        row(
            "key name length", [=](Bytes& b) { set16(b, s.child + 72, 0xffff); }, "wrong length");
        row(
            "empty key name", [=](Bytes& b) { set16(b, s.child + 72, 0); }, "wrong length");
        row(
            "odd UTF-16 name", [=](Bytes& b) { set16(b, s.child + 2, 0); }, "odd length");
        row(
            "backslash in a name", [=](Bytes& b) { b[s.child + 76 + 1] = '\\'; }, "backslash");
        row(
            "value is no vk", [=](Bytes& b) { b[s.text] = 'n'; }, "no value node");
        row(
            "value name length", [=](Bytes& b) { set16(b, s.text + 2, 0x7fff); },
            "longer than its cell");
        row(
            "inline data over 4 bytes", [=](Bytes& b) { set32(b, s.dword + 4, 0x80000009); },
            "more than 4");
        row(
            "data larger than the file", [=](Bytes& b) { set32(b, s.text + 4, 0x7fffff00); },
            "more than the file holds");
        row(
            "data longer than its cell", [=](Bytes& b) { set32(b, s.text + 4, 200); },
            "shorter than its size");
        row(
            "data offset", [=](Bytes& b) { set32(b, s.text + 8, 0x12345); }, "no allocated cell");
        row(
            "lone surrogate", [=](Bytes& b) { set16(b, 4096 + le32(b, s.text + 8) + 4, 0xd800); },
            "not valid UTF-16", ERROR_NO_UNICODE_TRANSLATION);
        row(
            "odd string length", [=](Bytes& b) { set32(b, s.text + 4, 11); }, "odd length");
        row(
            "big-data segment count",
            [=](Bytes& b) { set16(b, 4096 + le32(b, s.big + 8) + 4 + 2, 7); }, "segments");
        row(
            "big-data segment list",
            [=](Bytes& b) { set32(b, 4096 + le32(b, s.big + 8) + 4 + 4, le32(b, s.child + 40)); },
            "used a second time");
        row(
            "duplicate value names",
            [=](Bytes& b) {
                b[s.dword + 20] = 't';
                b[s.dword + 21] = 'E';
                set16(b, s.dword + 2, 4);
                b[s.dword + 22] = 'x';
                b[s.dword + 23] = 't';
            },
            "appears twice");
    }

    // Each damage is refused with a message saying what and where, and the store is unchanged.
    void damagedHivesAreRefused() {
        QFETCH(Damage, damage);
        QFETCH(QString, message);
        QFETCH(LONG, code);
        Small s = smallHive();
        registry::Key good;
        std::string error;
        QCOMPARE(read(s.b, good, error), ERROR_SUCCESS);
        Bytes b = s.b;
        damage(b);
        registry::Key tree;
        const LONG rc = read(b, tree, error);
        QVERIFY2(rc != ERROR_SUCCESS, "the damaged hive was read");
        QCOMPARE(rc, code);
        QVERIFY2(QString::fromStdString(error).contains(message), error.c_str());
        QVERIFY(tree.values.empty() && tree.subkeys.empty());

        putRaw("Slot\\Sub", "Title", REG_SZ, Bytes("kept\0", 5));
        const QStringList before = trees::dump(trees::readBack("Slot"));
        const QString file = writeFile(store_.filePath("damaged.hiv"), b);
        HKEY h = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Slot", 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
        QCOMPARE(RegRestoreKeyA(h, ("Z:" + file).toUtf8(), 0), rc);
        RegCloseKey(h);
        QCOMPARE(trees::dump(trees::readBack("Slot")), before);
        std::string fileError;
        hive::loadHiveFile(file.toStdString(), tree, fileError);
        QVERIFY2(QString::fromStdString(fileError).startsWith("\"" + file + "\": "),
                 fileError.c_str());
    }

    // Deeper than the platform lets keys nest: refused before the reader runs out of stack.
    void deepNestingIsRefused() {
        registry::Key root = key("Root");
        registry::Key* at = &root;
        for (std::size_t i = 0; i <= hive::kMaxDepth; ++i) {
            at->subkeys.push_back(key("d"));
            at = &at->subkeys.back();
        }
        registry::Key tree;
        std::string error;
        QCOMPARE(read(hiveBytes(root), tree, error), ERROR_BADDB);
        QVERIFY2(QString::fromStdString(error).contains("deeper than 512"), error.c_str());
        root.subkeys[0].subkeys.clear(); // 512 levels and less are fine
        QCOMPARE(read(hiveBytes(root), tree, error), ERROR_SUCCESS);
    }

    void missingAndOddFiles() {
        registry::Key tree;
        std::string error;
        QCOMPARE(hive::loadHiveFile(store_.filePath("nothing.hiv").toStdString(), tree, error),
                 ERROR_FILE_NOT_FOUND);
        QVERIFY2(QString::fromStdString(error).contains("nothing.hiv"), error.c_str());
        QCOMPARE(hive::loadHiveFile(store_.filePath("").toStdString(), tree, error),
                 ERROR_INVALID_PARAMETER); // a directory
        QCOMPARE(
            hive::loadHiveFile(writeFile(store_.filePath("empty"), {}).toStdString(), tree, error),
            ERROR_BADDB);
    }

    // hivexsh changes our file (a new key, values of several types, a deleted value and key) and
    // commits it; the restore finds exactly its changes.
    void hiveEditedByHivexsh() {
        registry::Key root = key("Quorvane");
        registry::Key a = key("A");
        a.values = {value("Title", REG_SZ, sz("Job A")), value("Gone", REG_DWORD, {1, 0, 0, 0})};
        root.subkeys = {a, key("Obsolete")};
        const QString file = writeFile(store_.filePath("orig.hiv"), hiveBytes(root));
        const QString edited = store_.filePath("edited.hiv");
        trees::runTool("hivexsh", {"-w", file},
                       "cd A\nsetval 1\nTitle\nstring:Changed\nadd New\ncd New\nsetval 5\n@\n"
                       "string:Default text\nCount\ndword:0x12345678\nBytes\nhex:3:01,ff,00\n"
                       "Path\nexpandstring:%HOME%\\x\nList\nhex:7:61,00,00,00,00,00\n"
                       "cd ..\ncd ..\ncd Obsolete\ndel\ncommit " +
                           edited.toUtf8() + "\n");
        if (QTest::currentTestFailed())
            return;
        HKEY h = nullptr;
        QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, "Restored", 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &h, nullptr),
                 ERROR_SUCCESS);
        QCOMPARE(RegRestoreKeyA(h, ("Z:" + edited).toUtf8(), 0), ERROR_SUCCESS);
        RegCloseKey(h);
        registry::Key want = key("Quorvane");
        registry::Key wantA = key("A");
        registry::Key wantNew = key("New");
        wantNew.values = {value("", REG_SZ, sz("Default text")),
                          value("Count", REG_DWORD, {0x78, 0x56, 0x34, 0x12}),
                          value("Bytes", REG_BINARY, {0x01, 0xff, 0x00}),
                          value("Path", REG_EXPAND_SZ, sz("%HOME%\\x")),
                          value("List", REG_MULTI_SZ, {'a', 0, 0})};
        wantA.values = {value("Title", REG_SZ, sz("Changed"))};
        wantA.subkeys = {wantNew};
        want.subkeys = {wantA};
        QCOMPARE(trees::dump(trees::readBack("Restored")), trees::dump(want));
    }
};

QUORVANE_TEST_MAIN(TestHiveReader)
#include "tst_hivereader.moc"
