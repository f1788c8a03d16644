// The store as seen from outside the dialogs, and a recorder that answers every message box.
#pragma once

#include "MessageBox.h"
#include "Registry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace store {

struct Raw {
    DWORD type = REG_NONE;
    QByteArray data;
    bool operator==(const Raw&) const = default;
};

// A text as the store keeps it: UTF-8 and one zero byte.
inline Raw sz(const QString& text) {
    QByteArray data = text.toUtf8();
    data.append('\0');
    return {REG_SZ, data};
}

inline std::optional<Raw> value(const QString& key, const QString& name) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.toUtf8().constData(), 0, KEY_READ, &k) !=
        ERROR_SUCCESS)
        return std::nullopt;
    const QByteArray n = name.toUtf8();
    Raw raw;
    DWORD size = 0;
    std::optional<Raw> result;
    if (RegQueryValueExA(k, n.constData(), nullptr, &raw.type, nullptr, &size) == ERROR_SUCCESS) {
        raw.data.resize(size);
        if (RegQueryValueExA(k, n.constData(), nullptr, &raw.type,
                             reinterpret_cast<BYTE*>(raw.data.data()), &size) == ERROR_SUCCESS)
            result = raw;
    }
    RegCloseKey(k);
    return result;
}

inline void set(const QString& key, const QString& name, const Raw& raw) {
    HKEY k = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.toUtf8().constData(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &k,
                        nullptr) != ERROR_SUCCESS)
        qFatal("cannot create key %s", qPrintable(key));
    RegSetValueExA(k, name.toUtf8().constData(), 0, raw.type,
                   reinterpret_cast<const BYTE*>(raw.data.constData()),
                   static_cast<DWORD>(raw.data.size()));
    RegCloseKey(k);
}

inline void setDword(const QString& key, const QString& name, DWORD number) {
    set(key, name, {REG_DWORD, QByteArray(reinterpret_cast<const char*>(&number), 4)});
}

inline void createKey(const QString& key) {
    HKEY k = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.toUtf8().constData(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &k,
                        nullptr) != ERROR_SUCCESS)
        qFatal("cannot create key %s", qPrintable(key));
    RegCloseKey(k);
}

inline bool keyExists(const QString& key) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.toUtf8().constData(), 0, KEY_READ, &k) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

inline void deleteValue(const QString& key, const QString& name) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.toUtf8().constData(), 0, KEY_ALL_ACCESS, &k) !=
        ERROR_SUCCESS)
        return;
    RegDeleteValueA(k, name.toUtf8().constData());
    RegCloseKey(k);
}

inline void deleteTree(const QString& key) {
    RegDeleteTreeA(HKEY_CURRENT_USER, key.toUtf8().constData());
}

// Names of the direct subkeys and of the values of a key.
inline registry::Key tree(const QString& key) {
    registry::Key out;
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.toUtf8().constData(), 0, KEY_READ, &k) !=
        ERROR_SUCCESS)
        return out;
    registry::readTree(k, out);
    RegCloseKey(k);
    return out;
}

inline QStringList valueNames(const QString& key) {
    QStringList names;
    for (const registry::Value& v : tree(key).values)
        names << QString::fromStdString(v.name);
    return names;
}

inline QStringList subkeyNames(const QString& key) {
    QStringList names;
    for (const registry::Key& sub : tree(key).subkeys)
        names << QString::fromStdString(sub.name);
    return names;
}

// The whole store as text, to see that nothing changed anywhere.
inline QString dump() {
    registry::Key root;
    registry::readTree(HKEY_CURRENT_USER, root);
    QString out;
    std::function<void(const registry::Key&, const QString&)> walk = [&](const registry::Key& key,
                                                                         const QString& path) {
        out += path + "\n";
        for (const registry::Value& v : key.values)
            out += QStringLiteral("  %1 %2 %3\n")
                       .arg(QString::fromStdString(v.name))
                       .arg(v.type)
                       .arg(QString::fromLatin1(
                           QByteArray(reinterpret_cast<const char*>(v.data.data()),
                                      static_cast<qsizetype>(v.data.size()))
                               .toHex()));
        for (const registry::Key& sub : key.subkeys)
            walk(sub, path + "\\" + QString::fromStdString(sub.name));
    };
    walk(root, QString());
    return out;
}

} // namespace store

// Records every message box instead of showing it.
class BoxRecorder {
public:
    BoxRecorder() {
        msgbox::setHook([this](const msgbox::Shown& shown) {
            shown_ << shown;
            return msgbox::Answer::Ok;
        });
    }
    ~BoxRecorder() { msgbox::setHook({}); }
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    QStringList errors() const {
        QStringList texts;
        for (const msgbox::Shown& s : shown_)
            if (s.kind == msgbox::Kind::Error)
                texts << s.text;
        return texts;
    }
    qsizetype count() const { return shown_.size(); }

private:
    QList<msgbox::Shown> shown_;
};
