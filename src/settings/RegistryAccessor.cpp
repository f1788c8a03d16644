#include "RegistryAccessor.h"

#include "Error.h"

#include <QByteArray>

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
    if (rc != ERROR_SUCCESS) {
        failure_ = registry::lastStoreError();
        return false;
    }
    closeKey();
    current_ = key;
    failure_.clear();
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
    const std::optional<QByteArray> data = readData(name);
    return data ? textOf(*data) : QString();
}

std::optional<QByteArray> RegistryAccessor::readData(const QString& name) const {
    if (!current_)
        return std::nullopt;
    const QByteArray n = bytes(name);
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG rc = RegQueryValueExA(current_, n.constData(), nullptr, &type, nullptr, &size);
    QByteArray data;
    // Another process may replace the value between the two queries: a value that grew is
    // read again, one that went away reads as missing.
    for (int attempt = 0; rc == ERROR_SUCCESS && size > 0; ++attempt) {
        data.resize(size);
        rc = RegQueryValueExA(current_, n.constData(), nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &size);
        if (rc != ERROR_MORE_DATA || attempt == 8)
            break;
        rc = ERROR_SUCCESS;
    }
    if (rc == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    if (rc != ERROR_SUCCESS)
        throw Error(QStringLiteral("Failed to get data for '%1'").arg(name));
    if (size > 0 && type != REG_SZ && type != REG_EXPAND_SZ)
        throw Error(QStringLiteral("Invalid data type for '%1'").arg(name));
    data.resize(size);
    return data;
}

QString RegistryAccessor::textOf(const QByteArray& data) {
    const qsizetype end = data.indexOf('\0');
    return QString::fromUtf8(end < 0 ? data : data.left(end));
}

void RegistryAccessor::writeString(const QString& name, const QString& text) {
    QByteArray value = bytes(text);
    value.append('\0');
    writeData(name, value);
}

void RegistryAccessor::writeData(const QString& name, const QByteArray& data) {
    const QByteArray n = bytes(name);
    QString why = QString::fromStdString(failure_);
    if (current_) {
        if (RegSetValueExA(current_, n.constData(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(data.constData()),
                           static_cast<DWORD>(data.size())) == ERROR_SUCCESS)
            return;
        why = QString::fromStdString(registry::lastStoreError());
    }
    QString message = QStringLiteral("Failed to set data for '%1'").arg(name);
    // The store's own complaint names its file and says why it cannot be written.
    if (!why.isEmpty())
        message += QStringLiteral(": ") + why;
    throw Error(message);
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
    const LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_QUERY_VALUE, &key);
    if (rc != ERROR_SUCCESS) {
        std::string why = registry::lastStoreError();
        throw Error(why.empty()
                        ? QStringLiteral("The settings store \"%1\" cannot be used (error %2)")
                              .arg(QString::fromStdString(registry::storeFile()))
                              .arg(rc)
                        : QString::fromStdString(why));
    }
    RegCloseKey(key);
}
