#include "RegFile.h"

#include "HiveReader.h"
#include "RegText.h"

#include <cstring>

namespace regfile {

namespace {

const char* const kUnicodeHeader = "Windows Registry Editor Version 5.00";
const char* const kAnsiHeader = "REGEDIT4";
const char* const kRoot = "HKEY_CURRENT_USER";
constexpr std::size_t kWrap = 76; // hex data lines break after this many characters

bool isString(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

struct Bad {
    LONG code;
    std::string text;
};

class Writer {
public:
    Writer(Form form) : form_(form) {}

    void run(const registry::Key& tree, const std::string& keyName) {
        text_ = form_ == Form::Unicode ? kUnicodeHeader : kAnsiHeader;
        text_ += "\r\n\r\n";
        key(tree, keyName);
    }

    const std::string& text() const { return text_; }

private:
    void key(const registry::Key& k, const std::string& name) {
        if (name.find_first_of("\r\n") != std::string::npos)
            throw Bad{ERROR_INVALID_PARAMETER,
                      "the key \"" + name + "\" has a line break in its name"};
        if (form_ == Form::Unicode && !utf8(name))
            throw Bad{ERROR_NO_UNICODE_TRANSLATION,
                      "the name of the key \"" + name + "\" is not UTF-8"};
        text_ += "[" + name + "]\r\n";
        for (const registry::Value& v : k.values)
            value(v, name);
        text_ += "\r\n";
        for (const registry::Key& sub : k.subkeys)
            key(sub, name + "\\" + sub.name);
    }

    void value(const registry::Value& v, const std::string& key) {
        std::string line;
        if (v.name.empty()) {
            line = "@=";
        } else {
            if (v.name.find_first_of("\r\n") != std::string::npos)
                throw Bad{ERROR_INVALID_PARAMETER, "the value \"" + v.name + "\" of \"" + key +
                                                       "\" has a line break in its name"};
            if (form_ == Form::Unicode && !utf8(v.name))
                throw Bad{ERROR_NO_UNICODE_TRANSLATION, "the name of the value \"" + v.name +
                                                            "\" of \"" + key + "\" is not UTF-8"};
            line = "\"" + quote(v.name) + "\"=";
        }
        const std::vector<BYTE>& d = v.data;
        if (v.type == REG_SZ && plainString(d)) {
            line += "\"" + quote(std::string(d.begin(), d.end() - 1)) + "\"";
        } else if (v.type == REG_DWORD && d.size() == 4) {
            char buf[16];
            const DWORD n = d[0] | d[1] << 8 | d[2] << 16 | static_cast<DWORD>(d[3]) << 24;
            std::snprintf(buf, sizeof buf, "dword:%08x", n);
            line += buf;
        } else {
            std::vector<std::uint8_t> bytes;
            if (form_ == Form::Unicode && isString(v.type) && !d.empty()) {
                if (!regtext::utf8ToUtf16le(d.data(), d.size(), bytes))
                    throw Bad{ERROR_NO_UNICODE_TRANSLATION, "the value \"" + v.name + "\" of \"" +
                                                                key +
                                                                "\" holds text that is not UTF-8"};
            } else {
                bytes.assign(d.begin(), d.end());
            }
            if (v.type == REG_BINARY) {
                line += "hex:";
            } else {
                char buf[16];
                std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
                line += buf;
            }
            hexBytes(bytes, line);
        }
        text_ += line + "\r\n";
    }

    // Text that the quoted form gives back exactly: UTF-8, no zero but the one terminator, no
    // line break.
    static bool plainString(const std::vector<BYTE>& d) {
        if (d.empty() || d.back() != 0)
            return false;
        const std::size_t n = d.size() - 1;
        if (std::memchr(d.data(), 0, n) || std::memchr(d.data(), '\r', n) ||
            std::memchr(d.data(), '\n', n))
            return false;
        return regtext::isUtf8(d.data(), n);
    }

    static bool utf8(const std::string& s) {
        return regtext::isUtf8(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    }

    static std::string quote(const std::string& s) {
        std::string out;
        out.reserve(s.size());
        for (char c : s) {
            if (c == '\\' || c == '"')
                out += '\\';
            out += c;
        }
        return out;
    }

    static void hexBytes(const std::vector<std::uint8_t>& bytes, std::string& line) {
        static const char* const digits = "0123456789abcdef";
        std::size_t column = line.size();
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            line += digits[bytes[i] >> 4];
            line += digits[bytes[i] & 15];
            column += 2;
            if (i + 1 == bytes.size())
                break;
            line += ',';
            ++column;
            if (column > kWrap) {
                line += "\\\r\n  ";
                column = 2;
            }
        }
    }

    Form form_;
    std::string text_;
};

// The reader. Lines end in CR LF, LF or CR; a line ending in a backslash inside hex data goes
// on in the next line.
class Parser {
public:
    Parser(std::vector<registry::Change>& changes, std::vector<std::size_t>& lines)
        : changes_(changes), lines_(lines) {}

    void run(const std::uint8_t* data, std::size_t size) {
        if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
            if (!regtext::utf16leToUtf8(data + 2, size - 2, text_))
                fail(0, "the file starts as UTF-16 but is not valid UTF-16",
                     ERROR_NO_UNICODE_TRANSLATION);
        } else if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
            fail(0, "the file is big-endian UTF-16, which registry files never are");
        } else {
            std::size_t skip = size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
            text_.assign(reinterpret_cast<const char*>(data) + skip, size - skip);
        }
        std::string line;
        bool header = false;
        while (next(line)) {
            const std::string t = trim(line);
            if (!header) {
                if (t.empty())
                    continue;
                if (t == kUnicodeHeader)
                    form_ = Form::Unicode;
                else if (t == kAnsiHeader)
                    form_ = Form::Ansi;
                else
                    fail(lineNo_, "the file does not start with \"" + std::string(kUnicodeHeader) +
                                      "\" or \"" + kAnsiHeader + "\"");
                header = true;
                continue;
            }
            if (t.empty() || t[0] == ';')
                continue;
            if (t[0] == '[')
                keyLine(t);
            else if (t[0] == '"' || t[0] == '@')
                valueLine(t);
            else
                fail(lineNo_, "a line that is neither a key in brackets nor a value");
        }
        if (!header)
            fail(lineNo_, "the file is empty");
    }

private:
    [[noreturn]] void fail(std::size_t line, const std::string& what, LONG code = ERROR_BADDB) {
        throw Bad{code, line ? "line " + std::to_string(line) + ": " + what : what};
    }

    bool next(std::string& line) {
        if (pos_ >= text_.size())
            return false;
        const std::size_t end = text_.find_first_of("\r\n", pos_);
        const std::size_t stop = end == std::string::npos ? text_.size() : end;
        line.assign(text_, pos_, stop - pos_);
        pos_ = stop;
        if (pos_ < text_.size()) {
            if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n')
                ++pos_;
            ++pos_;
        }
        ++lineNo_;
        return true;
    }

    static std::string trim(const std::string& s) {
        std::size_t a = 0, b = s.size();
        while (a < b && (s[a] == ' ' || s[a] == '\t'))
            ++a;
        while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t'))
            --b;
        return s.substr(a, b - a);
    }

    void keyLine(const std::string& t) {
        if (t.back() != ']')
            fail(lineNo_, "a key name without its closing bracket");
        std::string name = t.substr(1, t.size() - 2);
        const bool remove = !name.empty() && name[0] == '-';
        if (remove)
            name.erase(0, 1);
        // Some tools write the key a hive's root becomes with a backslash at its end.
        if (name.size() > 1 && name.back() == '\\' && name[name.size() - 2] != '\\')
            name.pop_back();
        std::vector<std::string> path;
        std::size_t start = 0;
        while (true) {
            const std::size_t slash = name.find('\\', start);
            path.push_back(name.substr(start, slash == std::string::npos ? slash : slash - start));
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        std::string root = path.front();
        for (char& c : root)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        if (root != kRoot && root != "HKCU")
            fail(lineNo_, "the key \"" + name + "\" is not below " + kRoot +
                              ", the only root this store keeps");
        path.erase(path.begin());
        if (path.size() > hive::kMaxDepth)
            fail(lineNo_,
                 "the key nests deeper than " + std::to_string(hive::kMaxDepth) + " levels");
        for (const std::string& part : path) {
            if (part.empty())
                fail(lineNo_, "the key \"" + name + "\" has an empty name in its path");
            if (part.find('\0') != std::string::npos)
                fail(lineNo_, "the key \"" + name + "\" has a zero character in its name");
            if (regtext::utf16Units(part) > 255)
                fail(lineNo_, "a key name is longer than 255 characters");
        }
        if (remove && path.empty())
            fail(lineNo_, std::string(kRoot) + " itself cannot be deleted");
        registry::Change c;
        c.kind = remove ? registry::Change::Kind::DeleteKey : registry::Change::Kind::CreateKey;
        c.path = path;
        add(std::move(c));
        current_ = std::move(path);
        inKey_ = !remove;
        haveKey_ = true;
    }

    // A quoted string from `at` (at the opening quote); `at` ends after the closing quote.
    std::string quoted(const std::string& t, std::size_t& at) {
        std::string out;
        for (std::size_t i = at + 1; i < t.size(); ++i) {
            if (t[i] == '"') {
                at = i + 1;
                return out;
            }
            if (t[i] == '\\') {
                if (i + 1 < t.size() && (t[i + 1] == '\\' || t[i + 1] == '"')) {
                    out += t[++i];
                    continue;
                }
                fail(lineNo_, "a backslash in a quoted string must be written \\\\");
            }
            out += t[i];
        }
        fail(lineNo_, "a quoted string without its closing quote");
    }

    void valueLine(const std::string& first) {
        if (!haveKey_)
            fail(lineNo_, "a value before the first key");
        if (!inKey_)
            fail(lineNo_, "a value in a key that is being deleted");
        const std::size_t line = lineNo_;
        registry::Change c;
        c.path = current_;
        std::size_t at = 0;
        if (first[0] == '@') {
            at = 1;
        } else {
            c.value.name = quoted(first, at);
            if (c.value.name.find('\0') != std::string::npos)
                fail(line, "a value name with a zero character");
            if (regtext::utf16Units(c.value.name) > 16383)
                fail(line, "a value name is longer than 16383 characters");
        }
        while (at < first.size() && (first[at] == ' ' || first[at] == '\t'))
            ++at;
        if (at >= first.size() || first[at] != '=')
            fail(line, "a value name without \"=\" after it");
        ++at;
        while (at < first.size() && (first[at] == ' ' || first[at] == '\t'))
            ++at;
        std::string rest = first.substr(at);
        if (rest == "-") {
            c.kind = registry::Change::Kind::DeleteValue;
            add(std::move(c), line);
            return;
        }
        c.kind = registry::Change::Kind::SetValue;
        registry::Value& v = c.value;
        if (!rest.empty() && rest[0] == '"') {
            std::size_t end = 0;
            std::string s = quoted(rest, end);
            if (!trim(rest.substr(end)).empty())
                fail(line, "text after the closing quote of a string");
            v.type = REG_SZ;
            v.data.assign(s.begin(), s.end());
            v.data.push_back(0);
        } else if (prefix(rest, "dword:")) {
            const std::string digits = trim(rest.substr(6));
            if (digits.empty() || digits.size() > 8)
                fail(line, "dword: needs one to eight hex digits");
            DWORD n = 0;
            for (char ch : digits) {
                const int h = regtext::hexDigit(ch);
                if (h < 0)
                    fail(line, "dword: needs one to eight hex digits");
                n = n << 4 | static_cast<DWORD>(h);
            }
            v.type = REG_DWORD;
            v.data = {static_cast<BYTE>(n), static_cast<BYTE>(n >> 8), static_cast<BYTE>(n >> 16),
                      static_cast<BYTE>(n >> 24)};
        } else if (prefix(rest, "hex")) {
            std::size_t colon = rest.find(':');
            if (colon == std::string::npos)
                fail(line, "hex data without \":\"");
            const std::string kind = rest.substr(3, colon - 3);
            if (kind.empty()) {
                v.type = REG_BINARY;
            } else {
                if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' ||
                    kind.size() > 10)
                    fail(line, "hex( needs a type of one to eight hex digits and \")\"");
                DWORD type = 0;
                for (std::size_t i = 1; i + 1 < kind.size(); ++i) {
                    const int h = regtext::hexDigit(kind[i]);
                    if (h < 0)
                        fail(line, "hex( needs a type of one to eight hex digits and \")\"");
                    type = type << 4 | static_cast<DWORD>(h);
                }
                v.type = type;
            }
            hexData(rest.substr(colon + 1), line, v);
        } else {
            fail(line, "value data that is neither a quoted string, dword: nor hex:");
        }
        add(std::move(c), line);
    }

    static bool prefix(const std::string& s, const char* p) {
        const std::size_t n = std::strlen(p);
        if (s.size() < n)
            return false;
        for (std::size_t i = 0; i < n; ++i) {
            char c = s[i];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != p[i])
                return false;
        }
        return true;
    }

    // Comma-separated hex bytes, going on in the next line after a trailing backslash.
    void hexData(std::string part, std::size_t line, registry::Value& v) {
        std::vector<std::uint8_t> bytes;
        bool expectByte = true; // a byte may come next (start, or after a comma)
        bool any = false;
        for (;;) {
            part = trim(part);
            bool more = false;
            if (!part.empty() && part.back() == '\\') {
                more = true;
                part.pop_back();
                part = trim(part);
            }
            std::size_t i = 0;
            while (i < part.size()) {
                const char ch = part[i];
                if (ch == ' ' || ch == '\t') {
                    ++i;
                } else if (ch == ',') {
                    if (expectByte)
                        fail(lineNo_, "an empty byte between commas in hex data");
                    expectByte = true;
                    ++i;
                } else {
                    const int hi = regtext::hexDigit(ch);
                    const int lo = i + 1 < part.size() ? regtext::hexDigit(part[i + 1]) : -1;
                    if (hi < 0)
                        fail(lineNo_, "a character that is no hex digit in hex data");
                    if (!expectByte)
                        fail(lineNo_, "hex bytes without a comma between them");
                    if (lo >= 0) {
                        bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
                        i += 2;
                    } else {
                        bytes.push_back(static_cast<std::uint8_t>(hi));
                        ++i;
                    }
                    expectByte = false;
                    any = true;
                }
            }
            if (!more)
                break;
            if (!next(part))
                fail(lineNo_, "hex data continued past the end of the file");
        }
        if (any && expectByte)
            fail(lineNo_, "hex data ends with a comma");
        if (form_ == Form::Unicode && isString(v.type) && !bytes.empty()) {
            std::string utf8;
            if (bytes.size() % 2 != 0)
                fail(line, "string data has an odd number of bytes for UTF-16");
            if (!regtext::utf16leToUtf8(bytes.data(), bytes.size(), utf8))
                fail(line, "string data is not valid UTF-16", ERROR_NO_UNICODE_TRANSLATION);
            v.data.assign(utf8.begin(), utf8.end());
        } else {
            v.data = std::move(bytes);
        }
    }

    void add(registry::Change c, std::size_t line = 0) {
        changes_.push_back(std::move(c));
        lines_.push_back(line ? line : lineNo_);
    }

    std::vector<registry::Change>& changes_;
    std::vector<std::size_t>& lines_;
    std::string text_;
    std::size_t pos_ = 0;
    std::size_t lineNo_ = 0;
    Form form_ = Form::Unicode;
    std::vector<std::string> current_;
    bool inKey_ = false;
    bool haveKey_ = false;
};

} // namespace

LONG write(const registry::Key& tree, const std::string& keyName, Form form,
           std::vector<std::uint8_t>& out, std::string& error) {
    out.clear();
    error.clear();
    try {
        Writer w(form);
        w.run(tree, keyName);
        const std::string& t = w.text();
        if (form == Form::Ansi) {
            out.assign(t.begin(), t.end());
            return ERROR_SUCCESS;
        }
        out = {0xFF, 0xFE};
        // Every name and string passed the UTF-8 checks above.
        if (!regtext::utf8ToUtf16le(reinterpret_cast<const std::uint8_t*>(t.data()), t.size(),
                                    out)) {
            out.clear();
            error = "the text is not UTF-8";
            return ERROR_NO_UNICODE_TRANSLATION;
        }
        return ERROR_SUCCESS;
    } catch (const Bad& bad) {
        error = bad.text;
        return bad.code;
    } catch (const std::bad_alloc&) {
        error = "not enough memory for the text";
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LONG parse(const std::uint8_t* data, std::size_t size, std::vector<registry::Change>& changes,
           std::vector<std::size_t>& lines, std::string& error) {
    changes.clear();
    lines.clear();
    error.clear();
    try {
        Parser p(changes, lines);
        p.run(data, size);
        return ERROR_SUCCESS;
    } catch (const Bad& bad) {
        changes.clear();
        lines.clear();
        error = bad.text;
        return bad.code;
    } catch (const std::bad_alloc&) {
        changes.clear();
        lines.clear();
        error = "not enough memory to read the file";
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace regfile
