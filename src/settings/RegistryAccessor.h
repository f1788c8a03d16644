// A short-lived accessor of the settings store: bound to HKEY_CURRENT_USER, with at most one
// open current key on which values are read and written.
#pragma once

#include "Registry.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

class RegistryAccessor {
public:
    explicit RegistryAccessor(REGSAM access = KEY_ALL_ACCESS);
    ~RegistryAccessor();
    RegistryAccessor(const RegistryAccessor&) = delete;
    RegistryAccessor& operator=(const RegistryAccessor&) = delete;

    REGSAM access() const { return access_; }
    void setAccess(REGSAM access) { access_ = access; }
    bool hasCurrentKey() const { return current_ != nullptr; }

    // Each open closes the previous current key when it succeeds; a failed open leaves it.
    bool openKey(const QString& path, bool canCreate);
    bool openKeyReadOnly(const QString& path);
    void closeKey();

    bool keyExists(const QString& path) const;
    // Raises "Failed to create key %s" when the key cannot be created.
    bool createKey(const QString& path);

    bool valueExists(const QString& name) const;
    // The text up to its first zero byte; empty for a missing value, a value of size 0 or no
    // current key. Raises "Invalid data type for '%s'" for other than REG_SZ / REG_EXPAND_SZ and
    // "Failed to get data for '%s'" when the data cannot be read.
    QString readString(const QString& name) const;
    // Raises "Failed to set data for '%s'", also when no key is current.
    void writeString(const QString& name, const QString& text);

    // The bytes of a string value exactly as stored (terminator, zero bytes inside and bytes
    // that are no UTF-8 included); nothing for a missing value or no current key. Raises as
    // readString does.
    std::optional<QByteArray> readData(const QString& name) const;
    // Writes `data` as the REG_SZ value `name`, byte for byte; raises as writeString does.
    void writeData(const QString& name, const QByteArray& data);
    // The text readString gives for the stored bytes `data`.
    static QString textOf(const QByteArray& data);

    bool saveKey(const QString& path, const QString& file);

    // Raises an error naming the store file when the store cannot be used at all (not a
    // database, damaged, no permission). Never changes the file.
    static void checkStore();

private:
    bool open(const QString& path, REGSAM access, bool canCreate);

    HKEY current_ = nullptr;
    REGSAM access_;
    std::string failure_; // why the last open failed, when the store said why
};
