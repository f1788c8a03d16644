// A registry with the operations, handles, value types and result codes of the Windows
// registry's 8-bit ("A") interface, kept in one SQLite file per user.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;
using REGSAM = std::uint32_t;
using HKEY = struct HKEY__*;

inline const HKEY HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_WRITE_PROTECT = 19;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_NOT_SUPPORTED = 50;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_DISK_FULL = 112;
constexpr LONG ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr LONG ERROR_BAD_PATHNAME = 161;
constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;
constexpr LONG ERROR_FILE_TOO_LARGE = 223;
constexpr LONG ERROR_ALREADY_EXISTS = 183;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_BADKEY = 1010;
constexpr LONG ERROR_CANTOPEN = 1011;
constexpr LONG ERROR_CANTREAD = 1012;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_CHILD_MUST_BE_VOLATILE = 1021;
constexpr LONG ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr LONG ERROR_CANT_RESOLVE_FILENAME = 1921;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM DELETE_ = 0x00010000; // DELETE is a macro name on some systems
constexpr REGSAM READ_CONTROL = 0x00020000;
constexpr REGSAM WRITE_DAC = 0x00040000;
constexpr REGSAM WRITE_OWNER = 0x00080000;
constexpr REGSAM STANDARD_RIGHTS_READ = READ_CONTROL;
constexpr REGSAM STANDARD_RIGHTS_WRITE = READ_CONTROL;
constexpr REGSAM STANDARD_RIGHTS_REQUIRED = 0x000F0000;
constexpr REGSAM KEY_READ =
    STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
constexpr REGSAM KEY_WRITE = STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
constexpr REGSAM KEY_ALL_ACCESS = STANDARD_RIGHTS_REQUIRED | KEY_QUERY_VALUE | KEY_SET_VALUE |
                                  KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY |
                                  KEY_CREATE_LINK;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

struct SECURITY_ATTRIBUTES;

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result);
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* className, DWORD options,
                     REGSAM samDesired, const SECURITY_ATTRIBUTES* security, HKEY* result,
                     DWORD* disposition);
LONG RegCloseKey(HKEY key);
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegDeleteValueA(HKEY key, const char* valueName);
// Deletes a key that has no subkeys, as the platform does.
LONG RegDeleteKeyA(HKEY key, const char* subKey);
// Deletes a key with everything below it; an empty subKey deletes all below `key` but keeps it.
LONG RegDeleteTreeA(HKEY key, const char* subKey);
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                   char* className, DWORD* classSize, void* lastWriteTime);
LONG RegEnumValueA(HKEY key, DWORD index, char* valueName, DWORD* valueNameSize, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* dataSize);
// Writes the key with all its subkeys and values to a new registry hive file. `file` is a
// Windows path, resolved through the drive layer. Fails with ERROR_ALREADY_EXISTS when the
// file exists; never leaves a partial file under that name.
LONG RegSaveKeyA(HKEY key, const char* file, const SECURITY_ATTRIBUTES* security);

constexpr DWORD REG_NO_LAZY_FLUSH = 0x0004;
constexpr DWORD REG_FORCE_RESTORE = 0x0008;
// Replaces the values and subkeys of the key with the contents of the registry hive file `file`
// (a Windows path, resolved through the drive layer), in one step: a file that cannot be read or
// is damaged leaves the key as it was.
LONG RegRestoreKeyA(HKEY key, const char* file, DWORD flags);

// What the layer offers beyond the platform's calls, for the store tool and the tests.
namespace registry {

struct Value {
    std::string name; // as stored: UTF-8, letter case as first written
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::string name;
    std::vector<Value> values; // in order of creation
    std::vector<Key> subkeys;  // in order of name, ignoring letter case
};

// The whole tree below an open key, read in one transaction.
LONG readTree(HKEY key, Key& out);

// RegSaveKeyA for a file named by its host path (the store tool takes those too).
LONG saveKeyToHostFile(HKEY key, const std::string& hostPath);
// The form of a name under which the store compares it with others: names that give the same
// form are the same name.
std::string nameFold(const std::string& name);

// Replaces the values and subkeys of the open key with those of `tree` (whose own name is not
// used), in one transaction: on any failure the store is as it was. Names are checked as the
// other calls check them (ERROR_BAD_PATHNAME for a key name the store refuses), and two
// subkeys or two values of one key with the same name are refused (ERROR_ALREADY_EXISTS).
LONG replaceTree(HKEY key, const Key& tree);

// One step of a merge into the store (an import). `path` names a key below HKEY_CURRENT_USER,
// one name per element.
struct Change {
    enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = Kind::CreateKey;
    std::vector<std::string> path;
    Value value; // SetValue: the value; DeleteValue: its name
};

// Applies every change in order, in one transaction: all of them or, on any failure, none.
// Creating a key creates the keys above it; setting a value creates its key. Deleting a key or a
// value that does not exist is no failure. `failedAt` gets the index of the change that failed.
LONG applyChanges(const std::vector<Change>& changes, std::size_t* failedAt = nullptr);

// The store file in use: by default "registry.db" in the user's configuration directory for
// this program, created on first use with its directory.
std::string storeFile();
// Points the layer at another store file; an empty path returns to the default. For tests and
// the store tool's --store option.
void setStoreFile(const std::string& path);

// Closes the layer's connections to store files; the next call opens them afresh. The last
// connection to a store moves what its write-ahead log holds into the store file itself. For
// tests that look at the file's bytes.
void closeConnections();

// Rights that every open and create is refused, as an access control list could refuse them.
// A seam for tests of access fallbacks; the program never sets it.
void setDeniedRights(REGSAM rights);

// Upper-cases one UTF-16 unit on its own, the way the platform compares key and value names
// (and the hive format hashes them).
char16_t upcase(char16_t unit);

// Text of the last store failure (for example a store file that is not a database), naming the
// file; empty when the last call succeeded.
std::string lastStoreError();

} // namespace registry
