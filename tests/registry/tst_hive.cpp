// The hive writer and RegSaveKeyA: trees saved through the registry layer are read back by two
// independent readers (hivex's hivexregedit and libregf's regfexport) and by a structural parser
// of our own that checks what those readers let pass.
#include "Drives.h"
#include "HiveWriter.h"
#include "Registry.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = QByteArray;

Bytes sz(const QString& text) {
    Bytes b = text.toUtf8();
    b.append('\0');
    return b;
}

registry::Value value(const QString& name, DWORD type, const Bytes& data) {
    return {name.toStdString(), type, std::vector<BYTE>(data.begin(), data.end())};
}

registry::Value text(const QString& name, const QString& t) {
    return value(name, REG_SZ, sz(t));
}

registry::Key key(const QString& name) {
    registry::Key k;
    k.name = name.toStdString();
    return k;
}

// What a reader should find: per key path below the root ("" is the root, "A", "A\B"), per value
// name, the type and the data as the hive holds it.
struct Expected {
    QString rootName;
    std::map<QString, std::map<QString, std::pair<DWORD, Bytes>>> keys;
};

Bytes utf16(const QString& s) {
    Bytes out;
    for (QChar c : s) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

void expect(const registry::Key& k, const QString& path, Expected& e) {
    auto& values = e.keys[path];
    for (const registry::Value& v : k.values) {
        Bytes data(reinterpret_cast<const char*>(v.data.data()), qsizetype(v.data.size()));
        if (v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ)
            data = utf16(QString::fromUtf8(data)); // the test trees always carry terminators
        values[QString::fromStdString(v.name)] = {v.type, data};
    }
    for (const registry::Key& sub : k.subkeys) {
        const QString name = QString::fromStdString(sub.name);
        expect(sub, path.isEmpty() ? name : path + "\\" + name, e);
    }
}

Expected expected(const registry::Key& root) {
    Expected e;
    e.rootName = QString::fromStdString(root.name);
    expect(root, QString(), e);
    return e;
}

// Writes a tree into the store below HKEY_CURRENT_USER through the platform calls.
void store(HKEY parent, const registry::Key& k) {
    HKEY h = nullptr;
    QCOMPARE(RegCreateKeyExA(parent, k.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                             nullptr),
             ERROR_SUCCESS);
    for (const registry::Value& v : k.values)
        QCOMPARE(RegSetValueExA(h, v.name.c_str(), 0, v.type, v.data.data(), DWORD(v.data.size())),
                 ERROR_SUCCESS);
    for (const registry::Key& sub : k.subkeys) {
        store(h, sub);
        if (QTest::currentTestFailed())
            break;
    }
    RegCloseKey(h);
}

// The settings tree: 26 slot keys with a title, a file name and 18 parameters each, some
// slots with the other value types and with values too large for one cell.
registry::Key settingsTree() {
    registry::Key root = key("Quorvane");
    for (int n = 1; n <= 26; ++n) {
        const QChar letter(64 + n);
        registry::Key slot = key(letter);
        const QString title = n == 1   ? QStringLiteral("測試功能")
                              : n == 2 ? QStringLiteral("第一行\r\n第二行")
                              : n == 3 ? QString()
                                       : QStringLiteral("功能 %1").arg(letter);
        slot.values.push_back(text("Title", title));
        slot.values.push_back(text(
            "FileName", n % 3 ? QString() : QStringLiteral("C:\\資料\\job%1.exe").arg(letter)));
        for (int p = 1; p <= 18; ++p) {
            QString t;
            switch (p) {
            case 1:
                t = QString(100, QChar('a' + n % 26));
                break;
            case 2:
                break;
            case 3:
                t = QStringLiteral("行一\r\n行二\r\n");
                break;
            case 4:
                t = QStringLiteral("Café ÷ ñ");
                break;
            case 5:
                t = QStringLiteral("😀 %1").arg(n);
                break;
            default:
                t = QStringLiteral("參數 %1-%2").arg(letter).arg(p);
            }
            if (n == 4 && p == 1) { // 9001 characters: 18,002 bytes, two big-data segments
                t.clear();
                for (int i = 0; i < 9001; ++i)
                    t.append(QChar(0x4E00 + (i * 7) % 5000));
            }
            slot.values.push_back(text(QStringLiteral("%1").arg(p, 2, 10, QChar('0')), t));
        }
        if (n == 5) {
            slot.values.push_back(value("Count", REG_DWORD, Bytes("\x78\x56\x34\x12", 4)));
            slot.values.push_back(value("Path", REG_EXPAND_SZ, sz("%HOME%\\bin;C:\\工具")));
            slot.values.push_back(value("Blob", REG_BINARY, Bytes("\x00\x01\x02\xff\x07", 5)));
            slot.values.push_back(value("List", REG_MULTI_SZ, Bytes("一\0two\0\0", 10)));
            slot.values.push_back(value("Nothing", REG_BINARY, Bytes()));
            slot.values.push_back(value("Cut", REG_SZ, Bytes("ab\0cd\0", 6)));
            Bytes big(40003, '\0'); // 40,003 = 2 × 16,344 + 7,315: a short last segment
            quint32 x = 12345;
            for (char& c : big)
                c = char((x = x * 1103515245u + 12345u) >> 24);
            slot.values.push_back(value("BigBlob", REG_BINARY, big));
        }
        root.subkeys.push_back(slot);
    }
    return root;
}

// Names that are Latin-1, UTF-16 (one outside the BMP) and that sort differently once upper-cased.
registry::Key namesTree() {
    registry::Key root = key("Namen");
    for (const char* n : {"Café", "測試", "_u", "z", "Y", "ä", "Ä2", "😀k", "a", "ß", "SS0"})
        root.subkeys.push_back(key(QString::fromUtf8(n)));
    registry::Key& vals = root.subkeys[0];
    vals.values.push_back(text("", "default"));
    vals.values.push_back(text("名稱", "v"));
    vals.values.push_back(text("Ünï", "Ünï"));
    vals.values.push_back(text("😀", "😀"));
    registry::Key deep = key("Tiefe");
    deep.subkeys.push_back(key("Ebene"));
    deep.subkeys[0].values.push_back(text("x", "y"));
    root.subkeys[1].subkeys.push_back(deep);
    return root;
}

// Names the store tells apart and names at the store's limits, which the export must take.
registry::Key limitsTree() {
    registry::Key root = key("Grenzen");
    root.subkeys.push_back(key("ß"));
    root.subkeys.push_back(key("SS"));
    root.subkeys.push_back(key(QString(255, QChar(0x6E2C))));
    registry::Key& k = root.subkeys[2];
    k.values.push_back(text("ß", "1"));
    k.values.push_back(text("SS", "2"));
    k.values.push_back(text(QString(16383, QChar(0x540D)), "3"));
    return root;
}

registry::Key manyTree() {
    registry::Key root = key("Many");
    for (int i = 0; i < 1203; ++i)
        root.subkeys.push_back(key(QStringLiteral("K%1").arg(1202 - i, 4, 10, QChar('0'))));
    root.subkeys[7].values.push_back(text("v", "w"));
    return root;
}

quint32 le32(const Bytes& b, qsizetype at) {
    return quint8(b[at]) | quint8(b[at + 1]) << 8 | quint8(b[at + 2]) << 16 |
           quint32(quint8(b[at + 3])) << 24;
}

quint16 le16(const Bytes& b, qsizetype at) {
    return quint16(quint8(b[at]) | quint8(b[at + 1]) << 8);
}

// Reads a hive as the platform would, checking what the readers do not: the header, the tiling of
// cells, the sort order and hashes of subkey lists, parent pointers, the length caches and the
// shared security cell. Fills `found` with what it read.
class Parser {
public:
    explicit Parser(const Bytes& file) : f_(file) {}

    void parse(Expected& found) {
        QVERIFY2(f_.size() >= 8192, "a hive is at least 8 KiB");
        QCOMPARE(f_.left(4), Bytes("regf"));
        QCOMPARE(le32(f_, 4), le32(f_, 8)); // sequence numbers: not dirty
        QCOMPARE(le32(f_, 20), 1u);
        QCOMPARE(le32(f_, 24), 5u);
        QCOMPARE(le32(f_, 28), 0u);
        QCOMPARE(le32(f_, 32), 1u);
        QCOMPARE(qsizetype(le32(f_, 40)) + 4096, f_.size());
        quint32 x = 0;
        for (int i = 0; i < 127; ++i)
            x ^= le32(f_, 4 * i);
        QCOMPARE(le32(f_, 508), x);
        QVERIFY(x != 0 && x != 0xFFFFFFFFu);

        for (qsizetype bin = 0; bin < f_.size() - 4096;) {
            const qsizetype at = 4096 + bin;
            QCOMPARE(f_.mid(at, 4), Bytes("hbin"));
            QCOMPARE(qsizetype(le32(f_, at + 4)), bin);
            const quint32 size = le32(f_, at + 8);
            QVERIFY(size % 4096 == 0 && size > 0);
            qsizetype cell = bin + 32;
            while (cell < bin + size) {
                const auto s = qint32(le32(f_, 4096 + cell));
                const qsizetype len = s < 0 ? -qsizetype(s) : s;
                QVERIFY2(len >= 8 && len % 8 == 0, qPrintable(QString("cell %1").arg(cell)));
                if (s < 0)
                    allocated_[quint32(cell)] = quint32(len);
                cell += len;
            }
            QCOMPARE(cell, bin + qsizetype(size)); // no cell crosses the end of its bin
            bin += size;
        }

        const quint32 root = le32(f_, 36);
        QCOMPARE(le16(f_, nkAt(root) + 2), quint16(0x2C));
        found.rootName = nkName(root);
        walk(root, QString(), found);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(sks_.size(), size_t(1));
        const quint32 sk = *sks_.begin();
        const qsizetype p = payload(sk, 20);
        QCOMPARE(f_.mid(p, 2), Bytes("sk"));
        QCOMPARE(le32(f_, p + 4), sk);
        QCOMPARE(le32(f_, p + 8), sk);
        QCOMPARE(le32(f_, p + 12), nkCount_);
        QCOMPARE(f_[p + 20], char(1)); // descriptor revision
    }

private:
    // File offset of the payload of an allocated cell of at least `need` bytes.
    qsizetype payload(quint32 cell, quint32 need) {
        auto it = allocated_.find(cell);
        if (it == allocated_.end() || it->second < need + 4) {
            QTest::qFail(
                qPrintable(
                    QString("offset %1 is no allocated cell of %2 bytes").arg(cell).arg(need)),
                __FILE__, __LINE__);
            throw 0;
        }
        return 4096 + qsizetype(cell) + 4;
    }

    qsizetype nkAt(quint32 cell) {
        const qsizetype p = payload(cell, 76);
        if (f_.mid(p, 2) != "nk") {
            QTest::qFail("not an nk cell", __FILE__, __LINE__);
            throw 0;
        }
        return p;
    }

    QString name(qsizetype at, quint16 len, bool latin1) {
        if (latin1)
            return QString::fromLatin1(f_.mid(at, len));
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(f_.constData() + at), len / 2);
    }

    QString nkName(quint32 cell) {
        const qsizetype p = nkAt(cell);
        payload(cell, 76u + le16(f_, p + 72));
        return name(p + 76, le16(f_, p + 72), le16(f_, p + 2) & 0x20);
    }

    static QString upper(const QString& s) {
        QString u;
        for (QChar c : s)
            u.append(c.isSurrogate() ? c : QChar(char16_t(QChar::toUpper(c.unicode()))));
        return u;
    }

    void leaf(quint32 list, std::vector<std::pair<quint32, quint32>>& entries) {
        const qsizetype p = payload(list, 4);
        const quint16 count = le16(f_, p + 2);
        if (f_.mid(p, 2) == "ri") {
            payload(list, 4 + 4u * count);
            for (int i = 0; i < count; ++i) {
                const quint32 sub = le32(f_, p + 4 + 4 * i);
                QCOMPARE(f_.mid(payload(sub, 4), 2), Bytes("lh")); // an ri never points to an ri
                leaf(sub, entries);
            }
            return;
        }
        QCOMPARE(f_.mid(p, 2), Bytes("lh"));
        payload(list, 4 + 8u * count);
        for (int i = 0; i < count; ++i)
            entries.emplace_back(le32(f_, p + 4 + 8 * i), le32(f_, p + 8 + 8 * i));
    }

    void walk(quint32 nk, const QString& path, Expected& found) {
        const qsizetype p = nkAt(nk);
        ++nkCount_;
        sks_.insert(le32(f_, p + 44));
        QCOMPARE(le32(f_, p + 48), 0xFFFFFFFFu); // no class name
        auto& values = found.keys[path];
        const quint32 valueCount = le32(f_, p + 36);
        quint32 maxValueName = 0, maxData = 0;
        if (valueCount == 0) {
            QCOMPARE(le32(f_, p + 40), 0xFFFFFFFFu);
        } else {
            const qsizetype list = payload(le32(f_, p + 40), 4 * valueCount);
            for (quint32 i = 0; i < valueCount; ++i) {
                const quint32 vkCell = le32(f_, list + 4 * i);
                const qsizetype v = payload(vkCell, 20);
                QCOMPARE(f_.mid(v, 2), Bytes("vk"));
                const quint16 nameLen = le16(f_, v + 2);
                payload(vkCell, 20u + nameLen);
                const bool latin1 = le16(f_, v + 16) & 1;
                const QString vn = name(v + 20, nameLen, latin1);
                QCOMPARE(latin1, std::all_of(vn.begin(), vn.end(),
                                             [](QChar c) { return c.unicode() <= 0xFF; }));
                maxValueName = std::max<quint32>(maxValueName, quint32(vn.size()) * 2);
                values[vn] = {le32(f_, v + 12), data(v)};
                maxData = std::max<quint32>(maxData, quint32(values[vn].second.size()));
            }
        }
        QCOMPARE(le32(f_, p + 60), maxValueName);
        QCOMPARE(le32(f_, p + 64), maxData);

        const quint32 subCount = le32(f_, p + 20);
        quint32 maxName = 0;
        if (subCount == 0) {
            QCOMPARE(le32(f_, p + 28), 0xFFFFFFFFu);
        } else {
            std::vector<std::pair<quint32, quint32>> entries;
            leaf(le32(f_, p + 28), entries);
            QCOMPARE(entries.size(), size_t(subCount));
            QString previous;
            for (auto [child, hash] : entries) {
                const QString n = nkName(child);
                const QString u = upper(n);
                quint32 h = 0;
                for (QChar c : u)
                    h = h * 37 + c.unicode();
                QCOMPARE(hash, h);
                if (!previous.isNull())
                    QVERIFY2(std::lexicographical_compare(previous.begin(), previous.end(),
                                                          u.begin(), u.end()),
                             qPrintable(previous + " before " + u));
                previous = u;
                const qsizetype c = nkAt(child);
                QCOMPARE(le32(f_, c + 16), nk); // parent pointer
                QCOMPARE(
                    le16(f_, c + 2) & 0x20,
                    std::all_of(n.begin(), n.end(), [](QChar ch) { return ch.unicode() <= 0xFF; })
                        ? 0x20
                        : 0);
                maxName = std::max<quint32>(maxName, quint32(n.size()) * 2);
                walk(child, path.isEmpty() ? n : path + "\\" + n, found);
                if (QTest::currentTestFailed())
                    return;
            }
        }
        QCOMPARE(le32(f_, p + 52), maxName);
    }

    Bytes data(qsizetype vk) {
        const quint32 size = le32(f_, vk + 4), offset = le32(f_, vk + 8);
        if (size & 0x80000000u) {
            const quint32 n = size & 0x7FFFFFFFu;
            if (n > 4 || (n == 0 && offset != 0xFFFFFFFFu)) {
                QTest::qFail("bad inline value", __FILE__, __LINE__);
                throw 0;
            }
            return f_.mid(vk + 8, n);
        }
        if (size <= 4 || size > 16344) {
            if (size > 16344) {
                const qsizetype db = payload(offset, 8);
                if (f_.mid(db, 2) == "db") {
                    const quint16 segments = le16(f_, db + 2);
                    const qsizetype list = payload(le32(f_, db + 4), 4u * segments);
                    Bytes out;
                    for (int i = 0; i < segments; ++i) {
                        const quint32 seg = le32(f_, list + 4 * i);
                        const quint32 n = std::min<quint32>(16344, size - quint32(out.size()));
                        // hivex and libregf read cell size − 8 bytes of every segment
                        if (!allocated_.count(seg) || allocated_[seg] < n + 8) {
                            QTest::qFail("big-data segment cell too small", __FILE__, __LINE__);
                            throw 0;
                        }
                        out += f_.mid(payload(seg, n), n);
                    }
                    if (out.size() != qsizetype(size))
                        QTest::qFail("big data shorter than its size", __FILE__, __LINE__);
                    return out;
                }
            }
            QTest::qFail("data neither inline nor in a fitting cell", __FILE__, __LINE__);
            throw 0;
        }
        return f_.mid(payload(offset, size), size);
    }

    const Bytes& f_;
    std::map<quint32, quint32> allocated_;
    std::set<quint32> sks_;
    quint32 nkCount_ = 0;
};

QString run(const QString& program, const QStringList& args, const QString& input = {}) {
    const QString exe = QStandardPaths::findExecutable(program);
    if (exe.isEmpty()) {
        QTest::qFail(qPrintable(program + " is missing (packages libwin-hivex-perl, libhivex-bin "
                                          "and libregf-utils)"),
                     __FILE__, __LINE__);
        return {};
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PERL_UNICODE", "S"); // hivexregedit prints names as UTF-8, not bytes by chance
    p.setProcessEnvironment(env);
    p.start(exe, args);
    if (!input.isEmpty())
        p.write(input.toUtf8());
    p.closeWriteChannel();
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        QTest::qFail(qPrintable(QString("%1 failed (%2): %3")
                                    .arg(program)
                                    .arg(p.exitCode())
                                    .arg(QString::fromUtf8(p.readAllStandardError()))),
                     __FILE__, __LINE__);
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// hivexregedit --export: "[\A\B]" headers, then `"name"=hex(T):aa,bb`, `@=...`, `=dword:...`.
void parseRegedit(const QString& out, Expected& found) {
    QString path;
    static const QRegularExpression line(
        "^(@|\"((?:[^\"\\\\]|\\\\.)*)\")=(hex(?:\\(([0-9a-f]+)\\))?|dword):(.*)$");
    for (const QString& l : out.split('\n')) {
        if (l.startsWith("[\\") && l.endsWith(']')) {
            path = l.mid(2, l.size() - 3);
            found.keys[path];
            continue;
        }
        if (l.isEmpty() || l.startsWith("Windows Registry Editor"))
            continue;
        const auto m = line.match(l);
        if (!m.hasMatch()) {
            QTest::qFail(qPrintable("hivexregedit printed an unexpected line: " + l.left(200)),
                         __FILE__, __LINE__);
            return;
        }
        QString name = m.captured(1) == "@" ? QString() : m.captured(2);
        name.replace(QRegularExpression(R"(\\(.))"), "\\1");
        DWORD type;
        Bytes data;
        if (m.captured(3) == "dword") {
            type = REG_DWORD;
            const quint32 v = m.captured(5).toUInt(nullptr, 16);
            data = Bytes(reinterpret_cast<const char*>(&v), 4);
        } else {
            type = m.captured(4).isEmpty() ? REG_BINARY : m.captured(4).toUInt(nullptr, 16);
            data = Bytes::fromHex(m.captured(5).remove(',').toLatin1());
        }
        found.keys[path][name] = {type, data};
    }
}

// regfexport: "Key path: Root\A", then per value "Value: N name", "Type: ... (REG_X)",
// "Data size: N" and "Data: text", "Data: number" or "Data:" with a hex dump.
void parseRegf(const QString& out, Expected& found, const Expected& want) {
    static const std::map<QString, DWORD> types = {{"REG_NONE", 0},
                                                   {"REG_SZ", 1},
                                                   {"REG_EXPAND_SZ", 2},
                                                   {"REG_BINARY", 3},
                                                   {"REG_DWORD_LITTLE_ENDIAN", 4},
                                                   {"REG_DWORD_BIG_ENDIAN", 5},
                                                   {"REG_LINK", 6},
                                                   {"REG_MULTI_SZ", 7},
                                                   {"REG_QWORD_LITTLE_ENDIAN", 11}};
    // Values are separated by blank lines; a string's text may hold line breaks of its own.
    const QStringList blocks = out.split(QRegularExpression("\n\n(?=Value: |Key path: )"));
    QString path;
    bool first = true;
    for (QString block : blocks) {
        if (block.startsWith("regfexport"))
            block = block.section('\n', 2);
        if (block.startsWith("Key path: ")) {
            const QString full = block.section('\n', 0, 0).mid(10);
            if (first)
                found.rootName = full;
            first = false;
            path = full == found.rootName ? QString() : full.mid(found.rootName.size() + 1);
            found.keys[path];
            const qsizetype v = block.indexOf("\nValue: ");
            if (v < 0)
                continue;
            block = block.mid(v + 1);
        }
        if (!block.startsWith("Value: "))
            continue;
        if (block.contains("\nIs corrupted")) {
            QTest::qFail(qPrintable("regfexport: " + block.left(200)), __FILE__, __LINE__);
            return;
        }
        // The last block carries the closing blank lines; a text's own CR LF stays.
        while (block.endsWith('\n') && !block.endsWith("\r\n"))
            block.chop(1);
        QString name = block.section('\n', 0, 0).section(' ', 2);
        if (name == "(default)")
            name.clear();
        const QString typeLine = block.section('\n', 1, 1);
        const QString token = typeLine.mid(typeLine.lastIndexOf('(') + 1).chopped(1);
        const DWORD type = types.count(token) ? types.at(token) : 0xFFFF;
        const qsizetype size = block.section('\n', 2, 2).mid(11).toLongLong();
        const qsizetype dataAt = block.indexOf("\nData:");
        const QString rest = dataAt < 0 ? QString() : block.mid(dataAt + 6);
        Bytes data;
        const auto& wanted = want.keys.count(path) && want.keys.at(path).count(name)
                                 ? want.keys.at(path).at(name)
                                 : std::pair<DWORD, Bytes>{};
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            // It prints the text up to its first zero and counts the size to there as well: take
            // that text, and the remainder of the expected data when the size agrees.
            const QString t = rest.mid(1);
            data = utf16(t);
            data.append(2, '\0');
            if (size == data.size() && wanted.second.startsWith(data))
                data = wanted.second;
        } else if (type == REG_DWORD || type == 11) {
            const quint64 v = rest.trimmed().toULongLong();
            data = Bytes(reinterpret_cast<const char*>(&v), type == REG_DWORD ? 4 : 8);
        } else {
            for (const QString& l : rest.split('\n', Qt::SkipEmptyParts))
                data += Bytes::fromHex(l.mid(10, 49).remove(' ').toLatin1());
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ && data.size() != size)
            QTest::qFail(qPrintable(QString("regfexport: size of %1 is %2, %3 bytes shown")
                                        .arg(name)
                                        .arg(size)
                                        .arg(data.size())),
                         __FILE__, __LINE__);
        found.keys[path][name] = {type, data};
    }
}

void compare(const Expected& found, const Expected& want, const char* reader) {
    QStringList problems;
    for (const auto& [path, values] : want.keys) {
        if (!found.keys.count(path)) {
            problems << "missing key [" + path + "]";
            continue;
        }
        const auto& got = found.keys.at(path);
        for (const auto& [name, v] : values) {
            if (!got.count(name))
                problems << "missing value [" + path + "] " + name;
            else if (got.at(name) != v)
                problems << QString("[%1] %2: type %3, %4 bytes %5; want type %6, %7 bytes %8")
                                .arg(path, name)
                                .arg(got.at(name).first)
                                .arg(got.at(name).second.size())
                                .arg(QString::fromLatin1(got.at(name).second.left(24).toHex()))
                                .arg(v.first)
                                .arg(v.second.size())
                                .arg(QString::fromLatin1(v.second.left(24).toHex()));
        }
        for (const auto& [name, v] : got)
            if (!values.count(name))
                problems << "extra value [" + path + "] " + name;
    }
    for (const auto& [path, values] : found.keys)
        if (!want.keys.count(path))
            problems << "extra key [" + path + "]";
    if (!want.rootName.isEmpty() && !found.rootName.isEmpty() && found.rootName != want.rootName)
        problems << "root named " + found.rootName;
    if (!problems.isEmpty())
        QTest::qFail(qPrintable(QString(reader) + ": " + problems.mid(0, 10).join("\n")), __FILE__,
                     __LINE__);
}

// Every reader finds exactly the tree `want` in `file`.
void checkFile(const QString& file, const Expected& want) {
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const Bytes bytes = f.readAll();
    {
        Expected found;
        try {
            Parser(bytes).parse(found);
        } catch (int) {
        }
        if (QTest::currentTestFailed())
            return;
        compare(found, want, "structure");
        if (QTest::currentTestFailed())
            return;
    }
    {
        const QString out = run("hivexregedit", {"--export", file, "\\"});
        if (QTest::currentTestFailed())
            return;
        Expected found;
        parseRegedit(out, found);
        if (QTest::currentTestFailed())
            return;
        compare(found, want, "hivexregedit");
        if (QTest::currentTestFailed())
            return;
    }
    {
        const QString out = run("regfexport", {file});
        if (QTest::currentTestFailed())
            return;
        Expected found;
        parseRegf(out, found, want);
        if (QTest::currentTestFailed())
            return;
        compare(found, want, "regfexport");
    }
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestHive : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;
    int stored_ = 0;

    // Stores `tree` under a fresh key of its own below HKEY_CURRENT_USER; returns its path.
    QString storeTree(const registry::Key& tree) {
        const QString parent = QStringLiteral("T%1").arg(++stored_);
        HKEY h = nullptr;
        RegCreateKeyExA(HKEY_CURRENT_USER, parent.toUtf8(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &h, nullptr);
        store(h, tree);
        RegCloseKey(h);
        return parent + "\\" + QString::fromStdString(tree.name);
    }

private slots:
    void initTestCase() {
        // C: is the home directory: keep this test's files out of the real one.
        QVERIFY(home_.isValid());
        qputenv("HOME", home_.path().toUtf8());
        drives::resetMapping(); // the drive layer reads the home directory once
    }

    void init() {
        for (const QString& e : entries(home_.path())) {
            const QFileInfo info(home_.path() + "/" + e);
            if (info.isDir() && !info.isSymLink())
                QDir(info.filePath()).removeRecursively();
            else
                QFile::remove(info.filePath());
        }
    }

    void readersFindTheStoredTree_data() {
        QTest::addColumn<int>("tree");
        QTest::newRow("settings, 26 slots") << 0;
        QTest::newRow("Latin-1, UTF-16 and upper-cased names") << 1;
        QTest::newRow("empty key") << 2;
        QTest::newRow("ß and SS, names at their limits") << 3;
    }

    // Stored through the registry layer, saved from a read-only handle the way the settings
    // accessor does, and read back.
    void readersFindTheStoredTree() {
        QFETCH(int, tree);
        const registry::Key t = tree == 0   ? settingsTree()
                                : tree == 1 ? namesTree()
                                : tree == 2 ? key("Leer")
                                            : limitsTree();
        const QString path = storeTree(t);
        if (QTest::currentTestFailed())
            return;
        HKEY h = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, path.toUtf8(), 0, KEY_READ, &h), ERROR_SUCCESS);
        const LONG rc = RegSaveKeyA(h, "C:\\Quorvane", nullptr);
        RegCloseKey(h);
        QCOMPARE(rc, ERROR_SUCCESS);
        // The export lands in the home directory, and nothing else is left beside it.
        QCOMPARE(entries(home_.path()), QStringList{"Quorvane"});
        checkFile(home_.path() + "/Quorvane", expected(t));
    }

    // More subkeys than one leaf holds: an `ri` index over several `lh` leaves.
    void indexOfLeaves() {
        const registry::Key t = manyTree();
        std::vector<std::uint8_t> bytes;
        QCOMPARE(hive::writeHive(t, hive::currentFileTime(), bytes), ERROR_SUCCESS);
        const QString file = home_.path() + "/many";
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        f.close();
        const Bytes all(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
        const quint32 list = le32(all, 4096 + le32(all, 36) + 4 + 28);
        QCOMPARE(all.mid(4096 + list + 4, 2), Bytes("ri"));
        checkFile(file, expected(t));
    }

    // hivex can change the file and commit it, which it refuses without valid security cells.
    void hivexCanEditTheFile() {
        registry::Key t = key("Quorvane");
        t.subkeys.push_back(key("A"));
        std::vector<std::uint8_t> bytes;
        QCOMPARE(hive::writeHive(t, hive::currentFileTime(), bytes), ERROR_SUCCESS);
        const QString file = home_.path() + "/edit";
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        f.close();
        run("hivexsh", {"-w", file},
            "cd A\nadd Neu\ncd Neu\nsetval 1\nName\nstring:Wert\ncommit\n");
        if (QTest::currentTestFailed())
            return;
        const QString out = run("hivexregedit", {"--export", file, "\\"});
        QVERIFY2(out.contains("[\\A\\Neu]"), qPrintable(out));
    }

    void headerChecksumAvoidsSpecialValues_data() {
        QTest::addColumn<quint32>("target");
        QTest::newRow("0") << 0u;
        QTest::newRow("0xFFFFFFFF") << 0xFFFFFFFFu;
    }

    // A time whose header XOR would be 0 or 0xFFFFFFFF is moved on, so that hivex (plain XOR)
    // and the platform (which stores those two as 1 and 0xFFFFFFFE) agree.
    void headerChecksumAvoidsSpecialValues() {
        QFETCH(quint32, target);
        const registry::Key t = key("K");
        const std::uint64_t time = 0x01DA000012345678ull;
        std::vector<std::uint8_t> bytes;
        QCOMPARE(hive::writeHive(t, time, bytes), ERROR_SUCCESS);
        const quint32 plain = le32(Bytes(reinterpret_cast<const char*>(bytes.data()), 512), 508);
        // The time's low dword enters the XOR directly: pick one that gives the special value.
        const std::uint64_t bad = time ^ (plain ^ target);
        QCOMPARE(hive::writeHive(t, bad, bytes), ERROR_SUCCESS);
        const Bytes header(reinterpret_cast<const char*>(bytes.data()), 4096);
        quint32 x = 0;
        for (int i = 0; i < 127; ++i)
            x ^= le32(header, 4 * i);
        QCOMPARE(le32(header, 508), x);
        QVERIFY(x != 0 && x != 0xFFFFFFFFu);
        QCOMPARE(hive::headerChecksum(bytes.data()), x);
        QVERIFY(le32(header, 12) != quint32(bad));
        Expected found;
        try {
            Parser(Bytes(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())))
                .parse(found);
        } catch (int) {
        }
    }

    // Text the store holds that is no UTF-8 (legacy Big5 bytes, a cut sequence, a surrogate)
    // does not sink the export: each such byte is written as U+FFFD, everything else unchanged.
    void textThatIsNoUtf8IsWrittenReplaced() {
        registry::Key t = key("Quorvane");
        t.subkeys.push_back(key("A"));
        std::vector<registry::Value>& v = t.subkeys[0].values;
        v.push_back(text("Title", "Function A"));
        v.push_back(value("Big5", REG_SZ, Bytes("\xb4\xfa\xb8\xd5 ok\0", 8)));
        v.push_back(value("Cut", REG_EXPAND_SZ, Bytes("a\xe6\x88\0", 4)));
        v.push_back(value("Surrogate", REG_SZ, Bytes("\xed\xa0\x80z\0", 5)));
        v.push_back(value("List", REG_MULTI_SZ, Bytes("\xff\0b\0\0", 5)));
        const QString path = storeTree(t);
        HKEY h = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, path.toUtf8(), 0, KEY_READ, &h), ERROR_SUCCESS);
        const LONG rc = RegSaveKeyA(h, "C:\\Quorvane", nullptr);
        RegCloseKey(h);
        QCOMPARE(rc, ERROR_SUCCESS);
        Expected want = expected(t);
        const QChar r(0xFFFD);
        auto& a = want.keys["A"];
        a["Big5"].second = utf16(QString(4, r) + QStringLiteral(" ok") + QChar(0));
        a["Cut"].second = utf16(QStringLiteral("a") + QString(2, r) + QChar(0));
        a["Surrogate"].second = utf16(QString(3, r) + QStringLiteral("z") + QChar(0));
        a["List"].second = utf16(r + QString(QChar(0)) + "b" + QChar(0) + QChar(0));
        checkFile(home_.path() + "/Quorvane", want);
    }

    void saveRefused_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::newRow("existing file") << "C:\\Quorvane"
                                       << "file" << int(ERROR_ALREADY_EXISTS);
        QTest::newRow("existing directory") << "C:\\Quorvane"
                                            << "dir" << int(ERROR_ALREADY_EXISTS);
        QTest::newRow("dangling link") << "C:\\Quorvane"
                                       << "link" << int(ERROR_ALREADY_EXISTS);
        QTest::newRow("missing directory") << "C:\\nowhere\\Quorvane"
                                           << "" << int(ERROR_PATH_NOT_FOUND);
        QTest::newRow("file as directory") << "C:\\plain\\Quorvane"
                                           << "plain" << int(ERROR_PATH_NOT_FOUND);
        QTest::newRow("read-only directory") << "C:\\locked\\Quorvane"
                                             << "locked" << int(ERROR_ACCESS_DENIED);
        QTest::newRow("empty name") << ""
                                    << "" << int(ERROR_INVALID_PARAMETER);
        QTest::newRow("handle without enumerate") << "C:\\Quorvane"
                                                  << "query-only" << int(ERROR_ACCESS_DENIED);
        QTest::newRow("closed handle") << "C:\\Quorvane"
                                       << "closed" << int(ERROR_INVALID_HANDLE);
        QTest::newRow("drive that maps to nothing") << "Q:\\x"
                                                    << "" << int(ERROR_PATH_NOT_FOUND);
    }

    // A refused save changes nothing on disk: an existing target keeps its bytes and no file,
    // temporary or not, is left behind.
    void saveRefused() {
        QFETCH(QString, file);
        QFETCH(QString, setup);
        QFETCH(int, code);
        const QString home = home_.path();
        const Bytes old("not a hive\r\n\0\xff", 14);
        if (setup == "file") {
            QFile f(home + "/Quorvane");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(old);
        } else if (setup == "dir") {
            QVERIFY(QDir(home).mkdir("Quorvane"));
        } else if (setup == "link") {
            QVERIFY(QFile::link(home + "/gone", home + "/Quorvane"));
        } else if (setup == "plain") {
            QFile f(home + "/plain");
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (setup == "locked") {
            if (geteuid() == 0)
                QSKIP("root may write to a read-only directory");
            QVERIFY(QDir(home).mkdir("locked"));
            QVERIFY(QFile::setPermissions(home + "/locked", QFile::ReadOwner | QFile::ExeOwner));
        }
        registry::Key t = key("Quorvane");
        t.subkeys.push_back(key("A"));
        t.subkeys[0].values.push_back(text("Title", "Function A"));
        const QString path = storeTree(t);
        HKEY h = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, path.toUtf8(), 0,
                               setup == "query-only" ? KEY_QUERY_VALUE : KEY_READ, &h),
                 ERROR_SUCCESS);
        if (setup == "closed")
            RegCloseKey(h);
        const QStringList before = entries(home);
        const QStringList beforeLocked = entries(home + "/locked");
        const LONG rc = RegSaveKeyA(h, file.toUtf8(), nullptr);
        if (setup != "closed")
            RegCloseKey(h);
        QFile::setPermissions(home + "/locked",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(int(rc), code);
        QCOMPARE(entries(home), before);
        QCOMPARE(entries(home + "/locked"), beforeLocked);
        if (setup == "file") {
            QFile f(home + "/Quorvane");
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), old);
        } else if (setup == "link") {
            QCOMPARE(QFileInfo(home + "/Quorvane").symLinkTarget(), home + "/gone");
            QVERIFY(!QFile::exists(home + "/gone"));
        }
    }
};

QUORVANE_TEST_MAIN(TestHive)
#include "tst_hive.moc"
