// Values of the store read and written past the accessor, as raw bytes.
#pragma once

#include "Registry.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The raw bytes of a value, read past the accessor.
inline QByteArray raw(const char* path, const char* name, DWORD* type = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    DWORD size = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    QByteArray data(size, '\0');
    if (rc == ERROR_SUCCESS)
        rc =
            RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return "<error " + QByteArray::number(rc) + ">";
    data.resize(size);
    return data;
}

inline void putRaw(const char* path, const char* name, DWORD type, const QByteArray& data) {
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                             nullptr),
             ERROR_SUCCESS);
    QCOMPARE(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.constData()),
                            static_cast<DWORD>(data.size())),
             ERROR_SUCCESS);
    RegCloseKey(key);
}

// A new, empty store file for each test, and the store's test seams put back after it.
class ScratchStore {
public:
    QString open() {
        dir_ = std::make_unique<QTemporaryDir>();
        file_ = dir_->filePath("registry.db");
        registry::setStoreFile(file_.toStdString());
        return file_;
    }
    void close() {
        registry::setDeniedRights(0);
        if (QFile::exists(file_))
            QFile::setPermissions(file_, QFile::ReadOwner | QFile::WriteOwner);
    }
    QString filePath(const QString& name) const { return dir_->filePath(name); }

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString file_;
};
