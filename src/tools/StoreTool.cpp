// quorvane-reg: look into and change the settings store from the command line.
#include "Drives.h"
#include "HiveReader.h"
#include "HiveWriter.h"
#include "RegFile.h"
#include "RegText.h"
#include "Registry.h"

#include <QString>

#include <algorithm>
#include <csignal>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

const char* const kHelp =
    R"(Usage: quorvane-reg [--store FILE] COMMAND ...

Looks into and changes the settings store of Quorvane.

  quorvane-reg [--store FILE] query KEY [/v NAME | /ve]
      Shows the values of KEY (name, type, data) and its subkeys; with /v only the value NAME,
      with /ve only the default (unnamed) value.
  quorvane-reg [--store FILE] add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
      Without /v or /ve creates KEY (with any missing keys above it). With /v or /ve adds the
      value to KEY (creating the key if needed), of TYPE (default REG_SZ) with DATA (default
      empty). An existing value is replaced only with /f.
  quorvane-reg [--store FILE] delete KEY [/v NAME | /ve | /va] [/f]
      Deletes the value NAME (/v), the default value (/ve), all values of KEY (/va), or without
      these KEY with all its subkeys and values. Asks for confirmation unless /f is given.
  quorvane-reg [--store FILE] save KEY FILE
      Saves KEY with all its subkeys and values to the registry hive file FILE, a Windows path
      such as C:\Quorvane or a path of this system such as /tmp/Quorvane.hiv; an existing FILE
      is not replaced, and no part of FILE is left when the save fails. Text that is not
      UTF-8 is written with each such byte as U+FFFD, and a warning names each such value.
  quorvane-reg [--store FILE] restore KEY FILE
      Replaces all values and subkeys of KEY with those of the registry hive file FILE. A
      damaged file changes nothing.
  quorvane-reg [--store FILE] export KEY FILE [/a]
      Writes KEY with all its subkeys and values to the registry editor file FILE (.reg):
      "Windows Registry Editor Version 5.00" in UTF-16 with a byte-order mark, or with /a the
      older "REGEDIT4" 8-bit form. An existing FILE is not replaced.
  quorvane-reg [--store FILE] import FILE
      Merges the registry editor file FILE (either form) into the store: its keys are created,
      its values set, and keys written [-KEY] and values written "NAME"=- are deleted. All or
      nothing: a fault anywhere in the file changes nothing and is shown with its line.
  quorvane-reg [--store FILE] copy KEY1 KEY2 [/s] [/f]
      Copies the values of KEY1 to KEY2 (creating it); with /s the subkeys with everything
      below them too. Asks before replacing values KEY2 already has, unless /f is given.
  quorvane-reg [--store FILE] compare KEY1 KEY2 [/v NAME | /ve] [/s]
      Compares the values of two keys (with /v or /ve only the one value) and the names of
      their subkeys; with /s the whole trees below them. Shows each difference; the exit
      status is 0 when they are identical and 2 when they differ.
  quorvane-reg --help
      Shows this text.

KEY is HKCU\path or HKEY_CURRENT_USER\path, for example HKCU\Quorvane\A; the root alone (HKCU)
names the top of the store. Other roots are not kept in this store and are refused. Key and
value names are compared without regard to letter case. Switches may be written in either case.

TYPE is one of REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_BINARY. DATA is written as follows:
  REG_SZ, REG_EXPAND_SZ  text (UTF-8), stored with one terminating zero byte. A backslash starts
                         an escape: \r carriage return, \n line feed, \t tab, \0 zero byte,
                         \\ backslash, \xHH the byte HH (two hex digits). Any other character
                         after a backslash is an error, so write C:\\data\\x.txt for the path
                         C:\data\x.txt.
  REG_DWORD              a number from 0 to 4294967295, decimal or hexadecimal with 0x (0x1f).
  REG_BINARY             hex bytes, two digits each, spaces allowed (01 ff 20 or 01FF20).
query shows data the same way: text with the escapes above (so the output can be fed back to
/d), REG_DWORD as 0x%08x, binary and other types as hex bytes.

FILE (for save, restore, export and import) is a Windows path such as C:\Quorvane\a.reg, or a
path of this system when it starts with a slash.

--store FILE (anywhere on the command line) uses the store file FILE instead of the user's own
(the one the program uses, named on the last line below).

Exit status: 0 on success (for compare: the keys are identical), 1 on a wrong command line or
when the operation failed (nothing was changed by the failing step; the message on standard
error says why), 2 for compare when the keys differ.
)";

struct UsageError {
    std::string text;
};

struct Failure {
    std::string text;
};

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string codeText(LONG rc) {
    switch (rc) {
    case ERROR_SUCCESS:
        return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND:
        return "The system was unable to find the specified registry key or value.";
    case ERROR_PATH_NOT_FOUND:
        return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "Not enough memory resources are available to process this command.";
    case ERROR_WRITE_PROTECT:
        return "The media is write protected.";
    case ERROR_NOT_SUPPORTED:
        return "The request is not supported.";
    case ERROR_DISK_FULL:
        return "There is not enough space on the disk.";
    case ERROR_FILENAME_EXCED_RANGE:
        return "The filename or extension is too long.";
    case ERROR_FILE_TOO_LARGE:
        return "The file size exceeds the limit allowed and cannot be saved.";
    case ERROR_NO_UNICODE_TRANSLATION:
        return "No mapping for the Unicode character exists in the target multi-byte code page.";
    case ERROR_CANT_RESOLVE_FILENAME:
        return "The name of the file cannot be resolved by the system.";
    case ERROR_INVALID_HANDLE:
        return "The handle is invalid.";
    case ERROR_WRITE_FAULT:
        return "The system cannot write to the specified device.";
    case ERROR_INVALID_PARAMETER:
        return "The parameter is incorrect.";
    case ERROR_CALL_NOT_IMPLEMENTED:
        return "This function is not supported on this system.";
    case ERROR_BAD_PATHNAME:
        return "The specified path is invalid.";
    case ERROR_ALREADY_EXISTS:
        return "Cannot create a file when that file already exists.";
    case ERROR_MORE_DATA:
        return "More data is available.";
    case ERROR_NO_MORE_ITEMS:
        return "No more data is available.";
    case ERROR_BADDB:
        return "The configuration registry database is corrupt.";
    case ERROR_BADKEY:
        return "The configuration registry key is invalid.";
    case ERROR_CANTOPEN:
        return "The configuration registry key could not be opened.";
    case ERROR_CANTREAD:
        return "The configuration registry key could not be read.";
    case ERROR_CANTWRITE:
        return "The configuration registry key could not be written.";
    case ERROR_KEY_DELETED:
        return "Illegal operation attempted on a registry key that has been marked for deletion.";
    default:
        return "Error " + std::to_string(rc) + ".";
    }
}

// The message for a failed call: the store's own complaint (which names the file) when there is
// one, else the text of the result code.
Failure failure(LONG rc, const std::string& context = std::string()) {
    std::string store = registry::lastStoreError();
    if (!store.empty())
        return {store};
    std::string text = codeText(rc);
    if (rc == ERROR_ACCESS_DENIED)
        text += " (settings store \"" + registry::storeFile() + "\")";
    return {context.empty() ? text : context + ": " + text};
}

void check(LONG rc, const std::string& context = std::string()) {
    if (rc != ERROR_SUCCESS)
        throw failure(rc, context);
}

struct KeyName {
    std::string path; // below HKEY_CURRENT_USER, empty for the root itself
    std::string shown;
};

KeyName parseKey(const std::string& text) {
    size_t slash = text.find('\\');
    std::string root = lower(text.substr(0, slash));
    if (root != "hkcu" && root != "hkey_current_user")
        throw UsageError{"Only HKEY_CURRENT_USER (HKCU) is kept in this store; \"" + text +
                         "\" is refused."};
    std::string path = slash == std::string::npos ? std::string() : text.substr(slash + 1);
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    return {path, path.empty() ? "HKEY_CURRENT_USER" : "HKEY_CURRENT_USER\\" + path};
}

using regtext::hexDigit;

std::vector<BYTE> unescape(const std::string& text) {
    std::vector<BYTE> out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(static_cast<BYTE>(text[i]));
            continue;
        }
        if (++i == text.size())
            throw UsageError{"/d ends with a lone backslash; write a backslash as \\\\."};
        switch (text[i]) {
        case 'r':
            out.push_back('\r');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case '0':
            out.push_back(0);
            break;
        case '\\':
            out.push_back('\\');
            break;
        case 'x': {
            int hi = i + 1 < text.size() ? hexDigit(text[i + 1]) : -1;
            int lo = i + 2 < text.size() ? hexDigit(text[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                throw UsageError{"\\x in /d needs two hex digits."};
            out.push_back(static_cast<BYTE>(hi * 16 + lo));
            i += 2;
            break;
        }
        default:
            throw UsageError{std::string("Unknown escape \\") + text[i] +
                             " in /d; write a backslash as \\\\."};
        }
    }
    return out;
}

// Text for the query output: valid UTF-8 as it is, control characters, backslashes and bytes
// that are no UTF-8 as escapes.
std::string escape(const BYTE* data, size_t size) {
    static const char* const hex = "0123456789abcdef";
    std::string out;
    size_t i = 0;
    while (i < size) {
        BYTE c = data[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool valid = len > 1 && i + len <= size;
        for (size_t k = 1; valid && k < len; ++k)
            valid = (data[i + k] & 0xc0) == 0x80;
        if (valid) {
            out.append(reinterpret_cast<const char*>(data + i), len);
            i += len;
            continue;
        }
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case 0:
            out += "\\0";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    return out;
}

std::string hexBytes(const std::vector<BYTE>& data) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (BYTE b : data) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

std::vector<BYTE> parseHex(const std::string& text) {
    std::vector<BYTE> out;
    int high = -1;
    for (char c : text) {
        if (c == ' ' && high < 0)
            continue;
        int d = hexDigit(c);
        if (d < 0)
            throw UsageError{"REG_BINARY data must be hex bytes (for example 01ff20), not \"" +
                             text + "\"."};
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<BYTE>(high * 16 + d));
            high = -1;
        }
    }
    if (high >= 0)
        throw UsageError{"REG_BINARY data needs two hex digits for each byte: \"" + text + "\"."};
    return out;
}

DWORD parseDword(const std::string& text) {
    bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string digits = isHex ? text.substr(2) : text;
    unsigned long long value = 0;
    bool ok = !digits.empty() && digits.size() <= 20;
    for (char c : digits) {
        int d = isHex ? hexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (d < 0) {
            ok = false;
            break;
        }
        value = value * (isHex ? 16 : 10) + static_cast<unsigned>(d);
        if (value > 0xffffffffull) {
            ok = false;
            break;
        }
    }
    if (!ok)
        throw UsageError{"REG_DWORD data must be a number from 0 to 4294967295, decimal or 0x "
                         "hex, not \"" +
                         text + "\"."};
    return static_cast<DWORD>(value);
}

std::string typeName(DWORD type) {
    switch (type) {
    case REG_NONE:
        return "REG_NONE";
    case REG_SZ:
        return "REG_SZ";
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ";
    case REG_BINARY:
        return "REG_BINARY";
    case REG_DWORD:
        return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
        return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK:
        return "REG_LINK";
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ";
    case REG_QWORD:
        return "REG_QWORD";
    default:
        return "REG_TYPE_" + std::to_string(type);
    }
}

std::optional<DWORD> parseType(const std::string& text) {
    std::string t = lower(text);
    if (t == "reg_sz")
        return REG_SZ;
    if (t == "reg_expand_sz")
        return REG_EXPAND_SZ;
    if (t == "reg_dword")
        return REG_DWORD;
    if (t == "reg_binary")
        return REG_BINARY;
    return std::nullopt;
}

std::string showData(DWORD type, const std::vector<BYTE>& data) {
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        size_t size = data.size();
        if (size && data[size - 1] == 0)
            --size; // the terminating zero
        return escape(data.data(), size);
    }
    if (type == REG_DWORD && data.size() == 4) {
        DWORD v = data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08x", v);
        return buf;
    }
    return hexBytes(data);
}

std::string valueLine(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
    return "    " + (name.empty() ? std::string("(Default)") : name) + "    " + typeName(type) +
           "    " + showData(type, data) + "\n";
}

class Key {
public:
    Key() = default;
    ~Key() {
        if (h_)
            RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

struct Args {
    std::vector<std::string> positional;
    std::optional<std::string> valueName; // /v NAME, or "" for /ve
    bool allValues = false;
    std::optional<std::string> type;
    std::optional<std::string> data;
    bool force = false;
    bool subkeys = false; // /s
    bool ansi = false;    // /a
};

Args parseArgs(const std::vector<std::string>& args, const std::string& allowed) {
    Args out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string sw = lower(a);
        auto next = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw UsageError{a + " needs an argument."};
            return args[++i];
        };
        std::string name = sw.size() > 1 && sw[0] == '/' ? sw.substr(1) : std::string();
        // A command without switches takes an argument with a leading slash as a host path, and
        // so does any command for an argument that is no switch's shape (one or two letters).
        const bool isSwitch =
            !name.empty() && !allowed.empty() && name.size() <= 2 &&
            std::all_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
        if (!isSwitch)
            name.clear();
        if (isSwitch && (" " + allowed + " ").find(" " + name + " ") == std::string::npos)
            throw UsageError{"Unknown switch " + a + " for this command."};
        if (name == "v" || name == "ve") {
            if (out.valueName || out.allValues)
                throw UsageError{"Give only one of /v, /ve and /va."};
            out.valueName = name == "v" ? next() : std::string();
        } else if (name == "va") {
            if (out.valueName)
                throw UsageError{"Give only one of /v, /ve and /va."};
            out.allValues = true;
        } else if (name == "t") {
            out.type = next();
        } else if (name == "d") {
            out.data = next();
        } else if (name == "f") {
            out.force = true;
        } else if (name == "s") {
            out.subkeys = true;
        } else if (name == "a") {
            out.ansi = true;
        } else {
            out.positional.push_back(a);
        }
    }
    return out;
}

std::vector<BYTE> queryValue(HKEY key, const char* name, DWORD& type) {
    std::vector<BYTE> data;
    DWORD size = 0;
    check(RegQueryValueExA(key, name, nullptr, &type, nullptr, &size));
    for (;;) {
        data.resize(size);
        LONG rc = RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA)
            continue;
        check(rc);
        data.resize(size);
        return data;
    }
}

int query(const Args& args) {
    if (args.positional.size() != 1)
        throw UsageError{"query needs one KEY."};
    KeyName k = parseKey(args.positional[0]);
    Key key;
    check(RegOpenKeyExA(HKEY_CURRENT_USER, k.path.c_str(), 0, KEY_READ, key.out()), k.shown);
    std::string out = k.shown + "\n";
    if (args.valueName) {
        DWORD type = REG_NONE;
        std::vector<BYTE> data = queryValue(key.get(), args.valueName->c_str(), type);
        out += valueLine(*args.valueName, type, data);
    } else {
        registry::Key tree;
        check(registry::readTree(key.get(), tree), k.shown);
        for (const registry::Value& v : tree.values)
            out += valueLine(v.name, v.type, v.data);
        if (!tree.subkeys.empty())
            out += "\n";
        for (const registry::Key& sub : tree.subkeys)
            out += k.shown + "\\" + sub.name + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int add(const Args& args) {
    if (args.positional.size() != 1)
        throw UsageError{"add needs one KEY."};
    KeyName k = parseKey(args.positional[0]);
    if (!args.valueName && (args.type || args.data))
        throw UsageError{"/t and /d need /v NAME or /ve."};
    DWORD type = REG_SZ;
    if (args.type) {
        std::optional<DWORD> t = parseType(*args.type);
        if (!t)
            throw UsageError{"Unknown type " + *args.type +
                             "; use REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY."};
        type = *t;
    }
    std::vector<BYTE> data;
    const std::string text = args.data.value_or(std::string());
    if (type == REG_DWORD) {
        if (!args.data)
            throw UsageError{"REG_DWORD needs /d DATA."};
        DWORD v = parseDword(text);
        data = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                static_cast<BYTE>(v >> 24)};
    } else if (type == REG_BINARY) {
        data = parseHex(text);
    } else {
        data = unescape(text);
        data.push_back(0);
    }

    Key key;
    check(RegCreateKeyExA(HKEY_CURRENT_USER, k.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, key.out(), nullptr),
          k.shown);
    if (args.valueName) {
        const char* name = args.valueName->c_str();
        LONG rc = RegQueryValueExA(key.get(), name, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS && !args.force)
            throw Failure{"The value " +
                          (args.valueName->empty() ? std::string("(Default)") : *args.valueName) +
                          " already exists in " + k.shown + "; give /f to replace it."};
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
            check(rc);
        check(
            RegSetValueExA(key.get(), name, 0, type, data.data(), static_cast<DWORD>(data.size())));
    }
    std::cout << codeText(ERROR_SUCCESS) << "\n";
    return 0;
}

bool confirmed(const std::string& question) {
    std::cerr << question << " (Yes/No)? " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    answer = lower(answer);
    return answer == "y" || answer == "yes";
}

int remove(const Args& args) {
    if (args.positional.size() != 1)
        throw UsageError{"delete needs one KEY."};
    KeyName k = parseKey(args.positional[0]);
    if (!args.valueName && !args.allValues && k.path.empty())
        throw UsageError{"HKEY_CURRENT_USER itself cannot be deleted."};
    Key key;
    check(RegOpenKeyExA(HKEY_CURRENT_USER, k.path.c_str(), 0, KEY_ALL_ACCESS, key.out()), k.shown);
    std::string what = args.valueName ? "the value " +
                                            (args.valueName->empty() ? std::string("(Default)")
                                                                     : *args.valueName) +
                                            " of " + k.shown
                       : args.allValues ? "all values of " + k.shown
                                        : "the key " + k.shown + " with everything below it";
    if (!args.force && !confirmed("Delete " + what)) {
        std::cerr << "Nothing was deleted.\n";
        return 1;
    }
    if (args.valueName) {
        check(RegDeleteValueA(key.get(), args.valueName->c_str()));
    } else if (args.allValues) {
        registry::Key tree;
        check(registry::readTree(key.get(), tree), k.shown);
        for (const registry::Value& v : tree.values) {
            LONG rc = RegDeleteValueA(key.get(), v.name.c_str());
            if (rc != ERROR_FILE_NOT_FOUND)
                check(rc);
        }
    } else {
        check(RegDeleteTreeA(HKEY_CURRENT_USER, k.path.c_str()), k.shown);
    }
    std::cout << codeText(ERROR_SUCCESS) << "\n";
    return 0;
}

// Names each text that the hive cannot hold unchanged: its bytes that are no UTF-8 are written
// as U+FFFD.
void warnUnconvertible(const registry::Key& key, const std::string& path) {
    auto bytes = [](const std::string& s) {
        return reinterpret_cast<const std::uint8_t*>(s.data());
    };
    for (const registry::Value& v : key.values) {
        const std::string name = v.name.empty() ? std::string("(Default)") : v.name;
        const bool text = v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ;
        if (!regtext::isUtf8(bytes(v.name), v.name.size()))
            std::cerr << "WARNING: the name of the value " << escape(bytes(name), name.size())
                      << " in " << path
                      << " is not UTF-8; each such byte is written to the file as U+FFFD.\n";
        if (text && !regtext::isUtf8(v.data.data(), v.data.size()))
            std::cerr << "WARNING: the value " << escape(bytes(name), name.size()) << " in " << path
                      << " holds text that is not UTF-8; each such byte is written to the file "
                         "as U+FFFD.\n";
    }
    for (const registry::Key& sub : key.subkeys) {
        const std::string subPath = path + "\\" + sub.name;
        if (!regtext::isUtf8(bytes(sub.name), sub.name.size()))
            std::cerr << "WARNING: the name of the key " << escape(bytes(subPath), subPath.size())
                      << " is not UTF-8; each such byte is written to the file as U+FFFD.\n";
        warnUnconvertible(sub, subPath);
    }
}

int save(const Args& args) {
    if (args.positional.size() != 2)
        throw UsageError{"save needs KEY and FILE."};
    KeyName k = parseKey(args.positional[0]);
    const std::string& file = args.positional[1];
    Key key;
    check(RegOpenKeyExA(HKEY_CURRENT_USER, k.path.c_str(), 0, KEY_READ, key.out()), k.shown);
    registry::Key tree;
    check(registry::readTree(key.get(), tree), k.shown);
    // A host path (/tmp/x.hiv) is taken as it is, a Windows path through the drive mapping.
    const LONG rc = file.front() == '/' ? registry::saveKeyToHostFile(key.get(), file)
                                        : RegSaveKeyA(key.get(), file.c_str(), nullptr);
    if (rc != ERROR_SUCCESS) {
        const std::string detail = hive::lastFileError();
        if (!detail.empty() && registry::lastStoreError().empty())
            throw Failure{detail + " (" + codeText(rc) + ")"};
        check(rc, file);
    }
    warnUnconvertible(tree, k.shown);
    std::cout << codeText(ERROR_SUCCESS) << "\n";
    return 0;
}

// A file named on the command line, as a path of this system.
std::string hostFile(const std::string& arg) {
    if (!arg.empty() && arg[0] == '/')
        return arg;
    return drives::toHostBytes(QString::fromUtf8(arg)).toStdString();
}

// The failure of a file operation, naming the file.
Failure fileFailure(LONG rc, const std::string& file) {
    return {"\"" + file + "\": " + codeText(rc)};
}

void openKey(const KeyName& k, REGSAM access, Key& key) {
    check(RegOpenKeyExA(HKEY_CURRENT_USER, k.path.c_str(), 0, access, key.out()), k.shown);
}

int restore(const Args& args) {
    if (args.positional.size() != 2)
        throw UsageError{"restore needs KEY and FILE."};
    KeyName k = parseKey(args.positional[0]);
    Key key;
    openKey(k, KEY_ALL_ACCESS, key);
    const std::string file = hostFile(args.positional[1]);
    registry::Key tree;
    std::string error;
    if (hive::loadHiveFile(file, tree, error) != ERROR_SUCCESS)
        throw Failure{error + ". Nothing was changed."};
    LONG rc = registry::replaceTree(key.get(), tree);
    if (rc == ERROR_BAD_PATHNAME || rc == ERROR_ALREADY_EXISTS || rc == ERROR_INVALID_PARAMETER)
        throw Failure{"\"" + file + "\" holds a key name that the store cannot keep (" +
                      codeText(rc) + "). Nothing was changed."};
    check(rc, k.shown);
    std::cout << codeText(ERROR_SUCCESS) << "\n";
    return 0;
}

int exportKey(const Args& args) {
    if (args.positional.size() != 2)
        throw UsageError{"export needs KEY and FILE."};
    KeyName k = parseKey(args.positional[0]);
    Key key;
    openKey(k, KEY_READ, key);
    registry::Key tree;
    check(registry::readTree(key.get(), tree), k.shown);
    std::vector<std::uint8_t> bytes;
    std::string error;
    const LONG rc = regfile::write(
        tree, k.shown, args.ansi ? regfile::Form::Ansi : regfile::Form::Unicode, bytes, error);
    if (rc != ERROR_SUCCESS)
        throw Failure{"Cannot export " + k.shown + ": " + error + "."};
    const std::string file = hostFile(args.positional[1]);
    if (LONG w = hive::writeNewFile(file, bytes); w != ERROR_SUCCESS)
        throw fileFailure(w, file);
    std::cout << codeText(ERROR_SUCCESS) << "\n";
    return 0;
}

int import(const Args& args) {
    if (args.positional.size() != 1)
        throw UsageError{"import needs one FILE."};
    const std::string file = hostFile(args.positional[0]);
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (regtext::readWholeFile(file, regfile::kMaxFile, bytes, error) != ERROR_SUCCESS)
        throw Failure{error + "."};
    std::vector<registry::Change> changes;
    std::vector<std::size_t> lines;
    if (regfile::parse(bytes.data(), bytes.size(), changes, lines, error) != ERROR_SUCCESS)
        throw Failure{"\"" + file + "\", " + error + ". Nothing was imported."};
    std::size_t at = 0;
    const LONG rc = registry::applyChanges(changes, &at);
    if (rc != ERROR_SUCCESS) {
        Failure f = failure(rc);
        if (at < lines.size())
            f.text = "\"" + file + "\", line " + std::to_string(lines[at]) + ": " + f.text;
        f.text += " Nothing was imported.";
        throw f;
    }
    std::cout << codeText(ERROR_SUCCESS) << "\n";
    return 0;
}

std::vector<std::string> pathOf(const KeyName& k) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (!k.path.empty()) {
        const std::size_t slash = k.path.find('\\', start);
        parts.push_back(k.path.substr(start, slash == std::string::npos ? slash : slash - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return parts;
}

void copyChanges(const registry::Key& from, std::vector<std::string> path, bool subkeys,
                 std::vector<registry::Change>& out) {
    registry::Change c;
    c.kind = registry::Change::Kind::CreateKey;
    c.path = path;
    out.push_back(c);
    for (const registry::Value& v : from.values) {
        c.kind = registry::Change::Kind::SetValue;
        c.value = v;
        out.push_back(c);
    }
    if (!subkeys)
        return;
    for (const registry::Key& sub : from.subkeys) {
        path.push_back(sub.name);
        copyChanges(sub, path, true, out);
        path.pop_back();
    }
}

// Whether `to` (read as far as it exists) already has a value that the copy would replace.
bool replacesValues(const registry::Key& from, const registry::Key& to, bool subkeys) {
    for (const registry::Value& v : from.values)
        for (const registry::Value& w : to.values)
            if (registry::nameFold(v.name) == registry::nameFold(w.name))
                return true;
    if (subkeys)
        for (const registry::Key& sub : from.subkeys)
            for (const registry::Key& other : to.subkeys)
                if (registry::nameFold(sub.name) == registry::nameFold(other.name) &&
                    replacesValues(sub, other, true))
                    return true;
    return false;
}

int copy(const Args& args) {
    if (args.positional.size() != 2)
        throw UsageError{"copy needs KEY1 and KEY2."};
    KeyName from = parseKey(args.positional[0]);
    KeyName to = parseKey(args.positional[1]);
    if (registry::nameFold(from.path) == registry::nameFold(to.path))
        throw UsageError{"A key cannot be copied onto itself."};
    Key source;
    openKey(from, KEY_READ, source);
    registry::Key tree;
    check(registry::readTree(source.get(), tree), from.shown);
    if (!args.force) {
        Key target;
        LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, to.path.c_str(), 0, KEY_READ, target.out());
        if (rc != ERROR_FILE_NOT_FOUND) {
            check(rc, to.shown);
            registry::Key existing;
            check(registry::readTree(target.get(), existing), to.shown);
            if (replacesValues(tree, existing, args.subkeys) &&
                !confirmed("Replace the values " + to.shown + " already has")) {
                std::cerr << "Nothing was copied.\n";
                return 1;
            }
        }
    }
    std::vector<registry::Change> changes;
    copyChanges(tree, pathOf(to), args.subkeys, changes);
    check(registry::applyChanges(changes), to.shown);
    std::cout << codeText(ERROR_SUCCESS) << "\n";
    return 0;
}

class Comparison {
public:
    explicit Comparison(bool subkeys) : subkeys_(subkeys) {}

    void keys(const registry::Key& a, const registry::Key& b, const std::string& nameA,
              const std::string& nameB) {
        for (const registry::Value& v : a.values) {
            const registry::Value* w = find(b.values, v.name);
            if (!w || w->type != v.type || w->data != v.data) {
                line('<', nameA, &v);
                if (w)
                    line('>', nameB, w);
            }
        }
        for (const registry::Value& w : b.values)
            if (!find(a.values, w.name))
                line('>', nameB, &w);
        for (const registry::Key& sub : a.subkeys) {
            const registry::Key* other = find(b.subkeys, sub.name);
            if (!other)
                keyLine('<', nameA + "\\" + sub.name);
            else if (subkeys_)
                keys(sub, *other, nameA + "\\" + sub.name, nameB + "\\" + other->name);
        }
        for (const registry::Key& sub : b.subkeys)
            if (!find(a.subkeys, sub.name))
                keyLine('>', nameB + "\\" + sub.name);
    }

    void values(const registry::Value* a, const registry::Value* b, const std::string& nameA,
                const std::string& nameB) {
        if (a && b && a->type == b->type && a->data == b->data)
            return;
        if (a)
            line('<', nameA, a);
        if (b)
            line('>', nameB, b);
    }

    bool different() const { return different_; }
    const std::string& text() const { return text_; }

private:
    template <class T> static const T* find(const std::vector<T>& items, const std::string& name) {
        const std::string f = registry::nameFold(name);
        for (const T& item : items)
            if (registry::nameFold(item.name) == f)
                return &item;
        return nullptr;
    }

    void line(char side, const std::string& key, const registry::Value* v) {
        different_ = true;
        text_ +=
            std::string(1, side) + " Value: " + key + "\n" + valueLine(v->name, v->type, v->data);
    }

    void keyLine(char side, const std::string& key) {
        different_ = true;
        text_ += std::string(1, side) + " Key: " + key + "\n";
    }

    bool subkeys_;
    bool different_ = false;
    std::string text_;
};

const registry::Value* findValue(const registry::Key& k, const std::string& name) {
    for (const registry::Value& v : k.values)
        if (registry::nameFold(v.name) == registry::nameFold(name))
            return &v;
    return nullptr;
}

int compare(const Args& args) {
    if (args.positional.size() != 2)
        throw UsageError{"compare needs KEY1 and KEY2."};
    if (args.valueName && args.subkeys)
        throw UsageError{"Give /s or one value (/v, /ve), not both."};
    KeyName a = parseKey(args.positional[0]);
    KeyName b = parseKey(args.positional[1]);
    registry::Key treeA, treeB;
    for (auto [name, tree] : {std::pair{&a, &treeA}, std::pair{&b, &treeB}}) {
        Key key;
        openKey(*name, KEY_READ, key);
        check(registry::readTree(key.get(), *tree), name->shown);
    }
    Comparison c(args.subkeys);
    if (args.valueName) {
        const registry::Value* va = findValue(treeA, *args.valueName);
        const registry::Value* vb = findValue(treeB, *args.valueName);
        if (!va && !vb)
            throw Failure{"Neither key has the value " +
                          (args.valueName->empty() ? std::string("(Default)") : *args.valueName) +
                          "."};
        c.values(va, vb, a.shown, b.shown);
    } else {
        c.keys(treeA, treeB, a.shown, b.shown);
    }
    std::cout << c.text() << (c.text().empty() ? "" : "\n")
              << "Result Compared: " << (c.different() ? "Different" : "Identical") << "\n"
              << codeText(ERROR_SUCCESS) << "\n";
    return c.different() ? 2 : 0;
}

// Takes --store FILE (or --store=FILE) out of the arguments, wherever it stands.
void takeStoreOption(std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size();) {
        std::string file;
        if (args[i] == "--store") {
            if (i + 1 >= args.size() || args[i + 1].empty())
                throw UsageError{"--store needs a FILE."};
            file = args[i + 1];
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                       args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        } else if (args[i].rfind("--store=", 0) == 0) {
            file = args[i].substr(8);
            if (file.empty())
                throw UsageError{"--store needs a FILE."};
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
            continue;
        }
        registry::setStoreFile(file);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        takeStoreOption(args);
        // Over a file-size limit the write fails and is reported, instead of the signal ending
        // the tool.
        std::signal(SIGXFSZ, SIG_IGN);
        if (args.empty())
            throw UsageError{"No command given."};
        const std::string command = lower(args[0]);
        if (command == "--help" || command == "-h" || command == "/?") {
            std::cout << kHelp << "\nStore file in use: " << registry::storeFile() << "\n";
            return 0;
        }
        std::vector<std::string> rest(args.begin() + 1, args.end());
        if (command == "query")
            return query(parseArgs(rest, "v ve"));
        if (command == "add")
            return add(parseArgs(rest, "v ve t d f"));
        if (command == "delete")
            return remove(parseArgs(rest, "v ve va f"));
        if (command == "save")
            return save(parseArgs(rest, ""));
        if (command == "restore")
            return restore(parseArgs(rest, ""));
        if (command == "export")
            return exportKey(parseArgs(rest, "a"));
        if (command == "import")
            return import(parseArgs(rest, ""));
        if (command == "copy")
            return copy(parseArgs(rest, "s f"));
        if (command == "compare")
            return compare(parseArgs(rest, "v ve s"));
        throw UsageError{"Unknown command " + args[0] + "."};
    } catch (const UsageError& e) {
        // 1 as for any failure: 2 is compare's answer "different", which a mistyped compare
        // must not give.
        std::cerr << "ERROR: " << e.text << "\nType \"quorvane-reg --help\" for usage.\n";
        return 1;
    } catch (const Failure& e) {
        std::cerr << "ERROR: " << e.text << "\n";
        return 1;
    }
}
