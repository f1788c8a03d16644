#include "RegistryAccessor.h"

#include "Error.h"

#include <QByteArray>

#include <vector>

namespace {

QByteArray bytes(const QString& text) {
    return text.toUtf8();
}

} // namespace

RegistryAccessor::RegistryAccessor(REGSAM access) : access_(access) {}

RegistryAccessor::~RegistryAccessor() {
    closeKey();
}

bool RegistryAccessor::open(const QString& path, REGSAM access, bool canCreate) {
    HKEY key = nullptr;
    const QByteArray p = bytes(path);
    LONG rc = canCreate ? RegCreateKeyExA(HKEY_CURRENT_USER, p.constData(), 0, nullptr,
                                          REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr)
                        : RegOpenKeyExA(HKEY_CURRENT_USER, p.constData(), 0, access, &key);
    if (rc != ERROR_SUCCESS)
        return false;
    closeKey();
    current_ = key;
    return true;
}

bool RegistryAccessor::openKey(const QString& path, bool canCreate) {
    return open(path, access_, canCreate);
}

bool RegistryAccessor::openKeyReadOnly(const QString& path) {
    for (REGSAM mask : {KEY_READ, STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                        KEY_QUERY_VALUE}) {
        if (open(path, mask, false)) {
            access_ = mask;
            return true;
        }
    }
    return false;
}

void RegistryAccessor::closeKey() {
    if (current_) {
        RegCloseKey(current_);
        current_ = nullptr;
    }
}

bool RegistryAccessor::keyExists(const QString& path) const {
    HKEY key = nullptr;
    const QByteArray p = bytes(path);
    if (RegOpenKeyExA(HKEY_CURRENT_USER, p.constData(), 0,
                      STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                      &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool RegistryAccessor::createKey(const QString& path) {
    HKEY key = nullptr;
    const QByteArray p = bytes(path);
    if (RegCreateKeyExA(HKEY_CURRENT_USER, p.constData(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        throw Error(QStringLiteral("Failed to create key %1").arg(path));
    RegCloseKey(key);
    return true;
}

bool RegistryAccessor::valueExists(const QString& name) const {
    if (!current_)
        return false;
    const QByteArray n = bytes(name);
    return RegQueryValueExA(current_, n.constData(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

QString RegistryAccessor::readString(const QString& name) const {
    if (!current_)
        return QString();
    const QByteArray n = bytes(name);
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG rc = RegQueryValueExA(current_, n.constData(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data;
    // Another process may replace the value between the two queries: a value that grew is
    // read again, one that went away reads as missing.
    for (int attempt = 0; rc == ERROR_SUCCESS && size > 0; ++attempt) {
        data.resize(size);
        rc = RegQueryValueExA(current_, n.constData(), nullptr, &type, data.data(), &size);
        if (rc != ERROR_MORE_DATA || attempt == 8)
            break;
        rc = ERROR_SUCCESS;
    }
    if (rc == ERROR_FILE_NOT_FOUND || (rc == ERROR_SUCCESS && size == 0))
        return QString();
    if (rc != ERROR_SUCCESS)
        throw Error(QStringLiteral("Failed to get data for '%1'").arg(name));
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw Error(QStringLiteral("Invalid data type for '%1'").arg(name));
    data.resize(size);
    size_t length = 0;
    while (length < data.size() && data[length] != 0)
        ++length;
    return QString::fromUtf8(reinterpret_cast<const char*>(data.data()),
                             static_cast<qsizetype>(length));
}

void RegistryAccessor::writeString(const QString& name, const QString& text) {
    const QByteArray n = bytes(name);
    const QByteArray value = bytes(text); // QByteArray keeps a terminating zero after its data
    if (!current_ || RegSetValueExA(current_, n.constData(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(value.constData()),
                                    static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
        throw Error(QStringLiteral("Failed to set data for '%1'").arg(name));
}

bool RegistryAccessor::saveKey(const QString& path, const QString& file) {
    HKEY key = nullptr;
    const QByteArray p = bytes(path);
    if (RegOpenKeyExA(HKEY_CURRENT_USER, p.constData(), 0, access_, &key) != ERROR_SUCCESS)
        return false;
    const QByteArray f = bytes(file);
    LONG rc = RegSaveKeyA(key, f.constData(), nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void RegistryAccessor::checkStore() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        std::string why = registry::lastStoreError();
        throw Error(why.empty() ? QStringLiteral("The settings store \"%1\" cannot be used")
                                      .arg(QString::fromStdString(registry::storeFile()))
                                : QString::fromStdString(why));
    }
    RegCloseKey(key);
}
