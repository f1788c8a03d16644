// The .reg writer and reader: the text the writer produces, the syntax the reader takes (a table
// of cases, faults with their line), round trips of a hostile tree in both forms, files written
// by hivexregedit, and imports that are all or nothing.
#include "HiveWriter.h"
#include "RawStore.h"
#include "RegFile.h"
#include "RegTrees.h"
#include "Registry.h"
#include "TestMain.h"

#include <QFile>

using trees::key;
using trees::sz;
using trees::value;

namespace {

using Bytes = QByteArray;

Bytes utf16(const QString& s) {
    Bytes out("\xff\xfe", 2);
    for (QChar c : s) {
        out.append(char(c.unicode() & 0xff));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

Bytes bytesOf(const std::vector<std::uint8_t>& v) {
    return Bytes(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

LONG exportKey(const char* path, regfile::Form form, Bytes& out, std::string& error) {
    const registry::Key tree = trees::readBack(path);
    std::vector<std::uint8_t> bytes;
    const LONG rc =
        regfile::write(tree, std::string("HKEY_CURRENT_USER\\") + path, form, bytes, error);
    out = bytesOf(bytes);
    return rc;
}

// Parses and applies `text`; returns the parse result or the store's.
LONG import(const Bytes& text, std::string& error) {
    std::vector<registry::Change> changes;
    std::vector<std::size_t> lines;
    const LONG rc = regfile::parse(reinterpret_cast<const std::uint8_t*>(text.constData()),
                                   std::size_t(text.size()), changes, lines, error);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (changes.size() != lines.size())
        return -1;
    return registry::applyChanges(changes);
}

} // namespace

class TestRegFile : public QObject {
    Q_OBJECT

    ScratchStore store_;

private slots:
    void init() { store_.open(); }
    void cleanup() { store_.close(); }

    // The text as the platform's editor writes it: byte-order mark, CR LF, a blank line after
    // each key, strings quoted, long hex data broken once a line reaches 77 columns with a
    // backslash.
    void writerText() {
        registry::Key t = key("T");
        t.values = {value("", REG_SZ, sz("a \"q\" \\ b")),
                    value("n", REG_DWORD, {0x1f, 0, 0, 1}),
                    value("b", REG_BINARY, std::vector<BYTE>(30, 0xab)),
                    value(QString::fromUtf8("名"), REG_EXPAND_SZ, sz("%X%")),
                    value("raw", REG_SZ, {'x'}),
                    value("e", REG_BINARY, {})};
        t.subkeys = {key(QString::fromUtf8("子"))};
        std::vector<std::uint8_t> out;
        std::string error;
        QCOMPARE(regfile::write(t, "HKEY_CURRENT_USER\\T", regfile::Form::Unicode, out, error),
                 ERROR_SUCCESS);
        const QString want = QString::fromUtf8("Windows Registry Editor Version 5.00\r\n\r\n"
                                               "[HKEY_CURRENT_USER\\T]\r\n"
                                               "@=\"a \\\"q\\\" \\\\ b\"\r\n"
                                               "\"n\"=dword:0100001f\r\n"
                                               "\"b\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,"
                                               "ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
                                               "  ab,ab,ab,ab,ab,ab,ab\r\n"
                                               "\"名\"=hex(2):25,00,58,00,25,00,00,00\r\n"
                                               "\"raw\"=hex(1):78,00\r\n"
                                               "\"e\"=hex:\r\n"
                                               "\r\n"
                                               "[HKEY_CURRENT_USER\\T\\子]\r\n"
                                               "\r\n");
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(out.data() + 2),
                                    qsizetype(out.size() / 2 - 1)),
                 want);
        QCOMPARE(bytesOf(out), utf16(want));
        QCOMPARE(regfile::write(t, "HKEY_CURRENT_USER\\T", regfile::Form::Ansi, out, error),
                 ERROR_SUCCESS);
        const Bytes ansi = bytesOf(out);
        QVERIFY(ansi.startsWith("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n"));
        QVERIFY(ansi.contains(QString::fromUtf8("\"名\"=hex(2):25,58,25,00\r\n").toUtf8()));
        QVERIFY(ansi.contains("\"raw\"=hex(1):78\r\n"));
    }

    void writerRefuses_data() {
        QTest::addColumn<registry::Value>("v");
        QTest::addColumn<int>("form");
        QTest::addColumn<LONG>("code");
        QTest::newRow("line break in a value name")
            << value("a\nb", REG_SZ, sz("")) << 0 << ERROR_INVALID_PARAMETER;
        QTest::newRow("text that is not UTF-8")
            << value("big5", REG_SZ, {0xa4, 0xa4, 0}) << 0 << ERROR_NO_UNICODE_TRANSLATION;
        QTest::newRow("value name that is not UTF-8")
            << registry::Value{"\xa4\xa4", REG_SZ, sz("")} << 0 << ERROR_NO_UNICODE_TRANSLATION;
    }

    void writerRefuses() {
        QFETCH(registry::Value, v);
        QFETCH(LONG, code);
        registry::Key t = key("T");
        t.values.push_back(v);
        std::vector<std::uint8_t> out;
        std::string error;
        QCOMPARE(regfile::write(t, "HKEY_CURRENT_USER\\T", regfile::Form::Unicode, out, error),
                 code);
        QVERIFY2(error.find(v.name) != std::string::npos, error.c_str());
        // In the 8-bit form the bytes go out as they are.
        if (code == ERROR_NO_UNICODE_TRANSLATION)
            QCOMPARE(regfile::write(t, "HKEY_CURRENT_USER\\T", regfile::Form::Ansi, out, error),
                     ERROR_SUCCESS);
    }

    void roundTripOfAHostileTree_data() {
        QTest::addColumn<int>("form");
        QTest::newRow("Windows Registry Editor Version 5.00") << int(regfile::Form::Unicode);
        QTest::newRow("REGEDIT4") << int(regfile::Form::Ansi);
    }

    // Export, import into an empty store, export again: the same tree and the same file.
    void roundTripOfAHostileTree() {
        QFETCH(int, form);
        const registry::Key tree = trees::hostileTree();
        QCOMPARE(trees::store("Source", tree), ERROR_SUCCESS);
        Bytes first, second;
        std::string error;
        QCOMPARE(exportKey("Source", regfile::Form(form), first, error), ERROR_SUCCESS);
        store_.open();
        QCOMPARE(import(first, error), ERROR_SUCCESS);
        QCOMPARE(trees::dump(trees::readBack("Source")), trees::dump(tree));
        QCOMPARE(exportKey("Source", regfile::Form(form), second, error), ERROR_SUCCESS);
        QVERIFY(first == second);
    }

    void syntax_data() {
        QTest::addColumn<Bytes>("text");
        QTest::addColumn<QString>("result"); // the dump of T after the import, or the fault
        const Bytes h = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n";
        const Bytes h4 = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n";
        // T holds "x" = "old" (REG_SZ) and the subkey Sub with "y" = 1 (REG_DWORD) before each.
        const QString before = "[] | x = 1 (4 bytes) 6f6c6400;[\\Sub] | y = 4 (4 bytes) 01000000";
        auto ok = [&](const char* name, const Bytes& text, const QString& added) {
            QTest::newRow(name) << text << (added.isEmpty() ? before : before + ";" + added);
        };
        auto bad = [&](const char* name, const Bytes& text, const QString& fault) {
            QTest::newRow(name) << text << "fault: " + fault;
        };
        ok("string with escapes", h + "\"s\"=\"a \\\\ \\\" b\"\r\n",
           "[] | s = 1 (8 bytes) 61205c2022206200");
        ok("default value", h + "@=\"d\"\r\n", "[] |  = 1 (2 bytes) 6400");
        ok("spaces around =", h + "\"s\" = \"v\"\r\n", "[] | s = 1 (2 bytes) 7600");
        ok("dword", h + "\"d\"=dword:0000001F\r\n", "[] | d = 4 (4 bytes) 1f000000");
        ok("short dword", h + "\"d\"=dword:1f\r\n", "[] | d = 4 (4 bytes) 1f000000");
        ok("hex over lines", h + "\"b\"=hex:01,02,\\\r\n  03,\\\n\t04\r\n",
           "[] | b = 3 (4 bytes) 01020304");
        ok("empty hex", h + "\"b\"=hex:\r\n", "[] | b = 3 (0 bytes) ");
        ok("hex(2) as UTF-16", h + "\"e\"=hex(2):25,00,41,00,00,00\r\n",
           "[] | e = 2 (3 bytes) 254100");
        ok("hex(2) as 8-bit text", h4 + "\"e\"=hex(2):25,41,00\r\n", "[] | e = 2 (3 bytes) 254100");
        ok("hex(7)", h + "\"m\"=hex(7):61,00,00,00,2d,4e,00,00,00,00\r\n",
           "[] | m = 7 (7 bytes) 6100e4b8ad0000");
        ok("hex(b)", h + "\"q\"=hex(b):01,02,03,04,05,06,07,08\r\n",
           "[] | q = 11 (8 bytes) 0102030405060708");
        ok("hex(0) empty", h + "\"n\"=hex(0):\r\n", "[] | n = 0 (0 bytes) ");
        ok("unusual type", h + "\"u\"=hex(12345):aa\r\n", "[] | u = 74565 (1 bytes) aa");
        QTest::newRow("value deleted") << h + "\"X\"=-\r\n"
                                       << "[] | ;[\\Sub] | y = 4 (4 bytes) 01000000";
        QTest::newRow("key deleted") << h + "[-HKEY_CURRENT_USER\\T\\sub]\r\n"
                                     << "[] | x = 1 (4 bytes) 6f6c6400";
        ok("missing value and key deleted", h + "\"none\"=-\r\n[-HKEY_CURRENT_USER\\T\\No]\r\n",
           "");
        ok("LF only, short root, comments",
           Bytes("REGEDIT4\n; comment\n[hkcu\\T\\New]\n\"v\"=\"1\"\n"),
           "[\\New] | ;[\\New] | v = 1 (2 bytes) 3100");
        ok("CR only", Bytes("REGEDIT4\r[HKEY_CURRENT_USER\\T]\r\"v\"=\"1\"\r"),
           "[] | v = 1 (2 bytes) 3100");
        ok("UTF-8 byte-order mark", "\xef\xbb\xbf" + h4 + "\"v\"=\"\xe4\xb8\xad\"\r\n",
           "[] | v = 1 (4 bytes) e4b8ad00");
        ok("UTF-16 file", utf16(QString::fromUtf8(h + "\"中\"=\"文\"\r\n")),
           QString::fromUtf8("[] | 中 = 1 (4 bytes) e6968700"));
        ok("trailing backslash of a key", h + "[HKEY_CURRENT_USER\\T\\K\\]\r\n", "[\\K] | ");

        bad("no header", "[HKEY_CURRENT_USER\\T]\r\n", "line 1: the file does not start");
        bad("empty file", "", "the file is empty");
        bad("other root", h + "[HKEY_LOCAL_MACHINE\\Software]\r\n", "line 4: the key");
        bad("value before a key", "REGEDIT4\r\n\"a\"=\"b\"\r\n", "line 2: a value before");
        bad("open quote", h + "\"a\"=\"b\r\n", "line 4: a quoted string without");
        bad("lone backslash", h + "\"a\"=\"C:\\x\"\r\n", "line 4: a backslash");
        bad("text after a string", h + "\"a\"=\"b\" c\r\n", "line 4: text after");
        bad("no =", h + "\"a\" \"b\"\r\n", "line 4: a value name without");
        bad("dword too long", h + "\"d\"=dword:123456789\r\n", "line 4: dword:");
        bad("dword not hex", h + "\"d\"=dword:12g4\r\n", "line 4: dword:");
        bad("hex digit", h + "\"b\"=hex:0z\r\n", "line 4: a character that is no hex digit");
        bad("hex comma at end", h + "\"b\"=hex:01,\r\n", "line 4: hex data ends with a comma");
        bad("hex double comma", h + "\"b\"=hex:01,,02\r\n", "line 4: an empty byte");
        bad("hex without commas", h + "\"b\"=hex:01 02\r\n", "line 4: hex bytes without");
        bad("hex continued at the end", h + "\"b\"=hex:01,\\\r\n", "past the end of the file");
        bad("hex( without type", h + "\"b\"=hex():01\r\n", "line 4: hex(");
        bad("odd UTF-16", h + "\"s\"=hex(1):41,00,42\r\n", "line 4: string data has an odd");
        bad("lone surrogate", h + "\"s\"=hex(1):00,d8,41,00\r\n", "line 4: string data is not");
        bad("unknown data", h + "\"s\"=word:1\r\n", "line 4: value data that is neither");
        bad("empty name in a path", h + "[HKEY_CURRENT_USER\\T\\\\x]\r\n", "line 4: the key");
        bad("root deleted", h + "[-HKEY_CURRENT_USER]\r\n", "line 4: HKEY_CURRENT_USER itself");
        bad("stray line", h + "hello\r\n", "line 4: a line that is neither");
        bad("value of a deleted key", h + "[-HKEY_CURRENT_USER\\T\\Sub]\r\n\"a\"=\"b\"\r\n",
            "line 5: a value in a key that is being deleted");
        bad("key name too long", h + "[HKEY_CURRENT_USER\\T\\" + Bytes(256, 'k') + "]\r\n",
            "line 4: a key name is longer than 255");
        bad("value name too long", h + "\"" + Bytes(16384, 'v') + "\"=\"\"\r\n",
            "line 4: a value name is longer than 16383");
        bad("too deep", h + "[HKEY_CURRENT_USER" + QByteArray("\\d").repeated(513) + "]\r\n",
            "line 4: the key nests deeper");
        bad("zero in a name", utf16(QString::fromUtf8(h + "\"a") + QChar(0) + "\"=\"\"\r\n"),
            "line 4: a value name with a zero");
        bad("big-endian UTF-16", Bytes("\xfe\xff\0W", 4), "big-endian");
        bad("broken UTF-16", Bytes("\xff\xfe\x00\xd8", 4), "not valid UTF-16");
        bad("fault after good lines",
            h + "\"ok\"=\"1\"\r\n[-HKEY_CURRENT_USER\\T\\Sub]\r\n\"a\"=q\r\n", "line 6");
    }

    // Each text is imported over the same key; a fault names its line and changes nothing.
    void syntax() {
        QFETCH(Bytes, text);
        QFETCH(QString, result);
        putRaw("T", "x", REG_SZ, Bytes("old\0", 4));
        putRaw("T\\Sub", "y", REG_DWORD, Bytes("\1\0\0\0", 4));
        std::string error;
        const LONG rc = import(text, error);
        if (result.startsWith("fault: ")) {
            QVERIFY(rc != ERROR_SUCCESS);
            QVERIFY2(QString::fromStdString(error).contains(result.mid(7)), error.c_str());
            result = "[] | x = 1 (4 bytes) 6f6c6400;[\\Sub] | y = 4 (4 bytes) 01000000";
        } else {
            QVERIFY2(rc == ERROR_SUCCESS, error.c_str());
        }
        QStringList want = result.split(';');
        want.sort();
        QStringList found = trees::flat(trees::readBack("T"));
        found.removeAll("[] | ");
        found.removeAll("[\\Sub] | ");
        want.removeAll("[] | ");
        QCOMPARE(found, want);
    }

    // A change the store refuses part way through leaves everything as it was.
    void importIsAllOrNothing() {
        putRaw("T", "x", REG_SZ, Bytes("old\0", 4));
        std::vector<registry::Change> changes(4);
        changes[0].kind = registry::Change::Kind::SetValue;
        changes[0].path = {"T"};
        changes[0].value = value("x", REG_SZ, sz("new"));
        changes[1].kind = registry::Change::Kind::CreateKey;
        changes[1].path = {"T", "New", "Deeper"};
        changes[2].kind = registry::Change::Kind::DeleteKey;
        changes[2].path = {"T"};
        changes[3].kind = registry::Change::Kind::CreateKey;
        changes[3].path = {"T", ""};
        std::size_t at = 99;
        QCOMPARE(registry::applyChanges(changes, &at), ERROR_BAD_PATHNAME);
        QCOMPARE(at, std::size_t(3));
        QCOMPARE(raw("T", "x"), Bytes("old\0", 4));
        QCOMPARE(trees::readBack("T").subkeys.size(), std::size_t(0));
        changes.pop_back();
        QCOMPARE(registry::applyChanges(changes, &at), ERROR_SUCCESS);
        QCOMPARE(raw("T", "x"), Bytes("<no key>"));
    }

    // hivexregedit's export of one of our hives (its own layout: LF line ends, strings as
    // hex(1), values sorted, the root written with a trailing backslash) imports as the tree.
    void importOfHivexregeditExport() {
        const registry::Key tree = trees::hostileTree();
        std::vector<std::uint8_t> hive;
        QCOMPARE(hive::writeHive(tree, hive::currentFileTime(), hive), ERROR_SUCCESS);
        const QString file = store_.filePath("tree.hiv");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytesOf(hive));
        f.close();
        const Bytes text = trees::runTool(
            "hivexregedit", {"--export", "--prefix", "HKEY_CURRENT_USER\\Imported", file, "\\"});
        if (QTest::currentTestFailed())
            return;
        std::string error;
        QVERIFY2(import(text, error) == ERROR_SUCCESS, error.c_str());
        QCOMPARE(trees::flat(trees::readBack("Imported")), trees::flat(tree));
    }
};

QUORVANE_TEST_MAIN(TestRegFile)
#include "tst_regfile.moc"
