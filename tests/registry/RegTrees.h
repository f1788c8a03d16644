// Key trees for the hive and .reg round trips: a hostile tree, a readable dump of a tree, and
// putting a tree into the store.
#pragma once

#include "Registry.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTest>

#include <algorithm>

namespace trees {

inline std::vector<BYTE> bytes(const QByteArray& b) {
    return std::vector<BYTE>(b.begin(), b.end());
}

// Text as the store keeps it: UTF-8 with one terminating zero.
inline std::vector<BYTE> sz(const QString& text) {
    QByteArray b = text.toUtf8();
    b.append('\0');
    return bytes(b);
}

inline registry::Value value(const QString& name, DWORD type, const std::vector<BYTE>& data) {
    return {name.toStdString(), type, data};
}

inline registry::Key key(const QString& name) {
    registry::Key k;
    k.name = name.toStdString();
    return k;
}

// Every type the store holds, empty and huge values, Chinese text, every kind of line break,
// names in Latin-1, in UTF-16 and with characters that need quoting, many subkeys and deep ones.
inline registry::Key hostileTree() {
    registry::Key root = key("Quorvane");
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    QByteArray huge(1 << 20, '\0');
    for (int i = 0; i < huge.size(); ++i)
        huge[i] = char((quint32(i) * 7919u) >> 3);
    root.values = {
        value("", REG_SZ, sz(QString::fromUtf8("默认的值"))),
        value("crlf", REG_SZ, sz("one\r\ntwo\rthree\nfour")),
        value("quotes \"and\" \\back\\", REG_SZ, sz("C:\\dir\\\"x\"")),
        value("nbsp", REG_SZ, sz(QString::fromUtf8("a\u00a0b\u2028c\ufeff"))),
        value("emoji", REG_SZ, sz(QString::fromUtf8("\U0001F600 smile"))),
        value("empty text", REG_SZ, sz("")),
        value("no data", REG_SZ, {}),
        value("expand", REG_EXPAND_SZ, sz("%HOME%\\quorvane")),
        value("multi", REG_MULTI_SZ,
              bytes(QByteArray("one\0", 4) + QString::fromUtf8("二").toUtf8() +
                    QByteArray("\0\0", 2))),
        value("binary", REG_BINARY, bytes(all)),
        value("empty binary", REG_BINARY, {}),
        value("dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}),
        value("short dword", REG_DWORD, {0x01, 0x02}),
        value("big endian", REG_DWORD_BIG_ENDIAN, {0x12, 0x34, 0x56, 0x78}),
        value("qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}),
        value("link", REG_LINK, {0x41, 0x00, 0x42, 0x00}),
        value("none", REG_NONE, {0xde, 0xad, 0xbe}),
        value("unknown type", 0x12345, {1, 2, 3, 4, 5}),
        value("huge", REG_BINARY, bytes(huge)),
        value("huge text", REG_SZ, sz(QString(40000, QChar(0x6587)))),
        value("one past a segment", REG_BINARY, bytes(huge.left(16345))),
        value(QString::fromUtf8("Größe Ä"), REG_SZ, sz("latin-1 name")),
        value(QString::fromUtf8("名前"), REG_SZ, sz(QString::fromUtf8("中文"))),
        value(QString(300, 'n'), REG_DWORD, {0, 0, 0, 0}),
    };
    registry::Key chinese = key(QString::fromUtf8("中文键"));
    chinese.values.push_back(
        value(QString::fromUtf8("标题"), REG_SZ, sz(QString::fromUtf8("你好\r\n世界"))));
    registry::Key many = key("Many");
    for (int i = 0; i < 600; ++i)
        many.subkeys.push_back(key(QString("k%1").arg(i, 4, 10, QChar('0'))));
    registry::Key deep = key("Deep");
    registry::Key* at = &deep;
    for (int i = 0; i < 40; ++i) {
        at->subkeys.push_back(key(QString("L%1").arg(i)));
        at = &at->subkeys.back();
    }
    at->values.push_back(value("bottom", REG_SZ, sz("reached")));
    root.subkeys = {key(QString::fromUtf8("Ä]bracket [")),
                    key("a_b"),
                    chinese,
                    deep,
                    many,
                    key(QString(85, QChar(0x540d))),
                    key(QString(255, 'k')),
                    key("Z")};
    return root;
}

inline void dumpKey(const registry::Key& k, const QString& path, QStringList& out) {
    out << "[" + path + "]";
    for (const registry::Value& v : k.values) {
        const QByteArray data(reinterpret_cast<const char*>(v.data.data()),
                              qsizetype(v.data.size()));
        const QByteArray shown =
            data.size() > 64 ? QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex()
                             : data.toHex();
        out << QString("%1 = %2 (%3 bytes) %4")
                   .arg(QString::fromStdString(v.name))
                   .arg(v.type)
                   .arg(data.size())
                   .arg(QString::fromLatin1(shown));
    }
    std::vector<const registry::Key*> subs;
    for (const registry::Key& s : k.subkeys)
        subs.push_back(&s);
    std::stable_sort(subs.begin(), subs.end(), [](const registry::Key* a, const registry::Key* b) {
        return registry::nameFold(a->name) < registry::nameFold(b->name);
    });
    for (const registry::Key* s : subs)
        dumpKey(*s, path + "\\" + QString::fromStdString(s->name), out);
}

// The tree as lines, subkeys in the store's order, values in theirs; the root's name left out.
inline QStringList dump(const registry::Key& k) {
    QStringList out;
    dumpKey(k, QString(), out);
    return out;
}

// The tree as sorted lines "path | value", for readers that change the order of values.
inline QStringList flat(const registry::Key& k) {
    QStringList lines = dump(k), out;
    QString path;
    for (const QString& l : lines) {
        if (l.startsWith('['))
            path = l;
        out << path + " | " + (l.startsWith('[') ? QString() : l);
    }
    out.sort();
    return out;
}

// The tree below the store key `path` (which is created), or an empty key on failure.
inline registry::Key readBack(const char* path) {
    registry::Key tree;
    HKEY h = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                        nullptr) != ERROR_SUCCESS)
        return tree;
    registry::readTree(h, tree);
    RegCloseKey(h);
    return tree;
}

inline LONG store(const char* path, const registry::Key& tree) {
    HKEY h = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                              nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = registry::replaceTree(h, tree);
    RegCloseKey(h);
    return rc;
}

// Runs one of the independent tools; fails the test when it is missing or fails.
inline QByteArray runTool(const QString& program, const QStringList& args,
                          const QByteArray& input = {}) {
    const QString exe = QStandardPaths::findExecutable(program);
    if (exe.isEmpty()) {
        QTest::qFail(qPrintable(program + " is missing (packages libhivex-bin, libwin-hivex-perl)"),
                     __FILE__, __LINE__);
        return {};
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PERL_UNICODE", "S"); // hivexregedit writes names as UTF-8
    p.setProcessEnvironment(env);
    p.start(exe, args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        QTest::qFail(
            qPrintable(program + " failed: " + QString::fromUtf8(p.readAllStandardError())),
            __FILE__, __LINE__);
        return {};
    }
    return p.readAllStandardOutput();
}

} // namespace trees
