#include "HiveReader.h"

#include "HiveFormat.h"
#include "HiveWriter.h"
#include "RegText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hive {

namespace {

using namespace format;

// Larger than any hive the format's 32-bit offsets can describe.
constexpr std::uint64_t kMaxFile = std::uint64_t(kBaseBlock) + 0xFFFFFFFFull;

struct Bad {
    LONG code;
    std::string text;
};

std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : d_(data), size_(size) {}

    void run(registry::Key& root) {
        if (size_ < kBaseBlock + kBinAlign)
            fail("the file is too short for a hive (" + std::to_string(size_) + " bytes)");
        if (std::memcmp(d_, "regf", 4) != 0)
            fail("the file does not start with \"regf\": it is no registry hive");
        if (u32(20) != 1)
            fail("unknown format version " + std::to_string(u32(20)) + "." +
                 std::to_string(u32(24)) + " (header offset 20)");
        minor_ = u32(24);
        if (minor_ < 2 || minor_ > 6)
            fail("unknown format version 1." + std::to_string(minor_) + " (header offset 24)");
        if (u32(28) != 0)
            fail("the file is a transaction log, not a hive (header offset 28)");
        if (u32(32) != 1)
            fail("unknown file format " + std::to_string(u32(32)) + " (header offset 32)");
        std::uint32_t sum = 0;
        for (int i = 0; i < 127; ++i)
            sum ^= u32(4 * static_cast<std::size_t>(i));
        const std::uint32_t stored = u32(508);
        if (stored != sum && stored != headerChecksum(d_))
            fail("the header checksum is wrong (header offset 508)");
        if (u32(4) != u32(8))
            fail("the hive was not closed cleanly: its sequence numbers differ (header offsets 4 "
                 "and 8)");
        bins_ = u32(40);
        if (bins_ == 0 || bins_ % kBinAlign != 0 || bins_ > size_ - kBaseBlock)
            fail("the hive-bins size " + hex(bins_) + " does not fit the file (header offset 40)");
        scanBins();
        const std::uint32_t rootCell = u32(36);
        std::vector<std::string> path;
        readKey(rootCell, root, path, true);
    }

private:
    [[noreturn]] void fail(const std::string& text, LONG code = ERROR_BADDB) {
        throw Bad{code, text};
    }

    std::uint16_t u16(std::size_t at) const {
        return static_cast<std::uint16_t>(d_[at] | d_[at + 1] << 8);
    }
    std::uint32_t u32(std::size_t at) const {
        return d_[at] | d_[at + 1] << 8 | d_[at + 2] << 16 |
               static_cast<std::uint32_t>(d_[at + 3]) << 24;
    }

    // Every bin in order, and every cell in every bin: cells must tile each bin exactly.
    void scanBins() {
        std::uint32_t at = 0;
        while (at < bins_) {
            const std::size_t file = kBaseBlock + std::size_t(at);
            if (std::memcmp(d_ + file, "hbin", 4) != 0)
                fail("no hive bin at file offset " + hex(file));
            if (u32(file + 4) != at)
                fail("the hive bin at file offset " + hex(file) +
                     " gives a wrong offset of its own");
            const std::uint32_t size = u32(file + 8);
            if (size < kBinAlign || size % kBinAlign != 0 || size > bins_ - at)
                fail("the hive bin at file offset " + hex(file) + " has a wrong size " + hex(size));
            std::uint32_t cell = at + kBinHeader;
            const std::uint32_t end = at + size;
            while (cell < end) {
                if (end - cell < 8)
                    fail("a cell crosses the end of its bin at file offset " +
                         hex(kBaseBlock + std::size_t(cell)));
                const auto raw = static_cast<std::int32_t>(u32(kBaseBlock + std::size_t(cell)));
                const std::uint32_t len = raw < 0 ? 0u - static_cast<std::uint32_t>(raw)
                                                  : static_cast<std::uint32_t>(raw);
                if (len < 8 || len % 8 != 0 || len > end - cell)
                    fail("the cell at file offset " + hex(kBaseBlock + std::size_t(cell)) +
                         " has a wrong size " + hex(static_cast<std::uint32_t>(raw)));
                if (raw < 0)
                    cells_.push_back({cell, len});
                cell += len;
            }
            at = end;
        }
    }

    struct Cell {
        std::uint32_t offset; // relative to the bins, at the size field
        std::uint32_t size;   // including the size field
    };

    // The payload of the allocated cell at `offset`, which must hold at least `need` bytes.
    // `what` says what the cell should be, for the message.
    const std::uint8_t* cell(std::uint32_t offset, std::size_t need, const std::string& what,
                             std::size_t* length = nullptr) {
        auto it = std::lower_bound(cells_.begin(), cells_.end(), offset,
                                   [](const Cell& c, std::uint32_t o) { return c.offset < o; });
        if (it == cells_.end() || it->offset != offset)
            fail(what + " at offset " + hex(offset) + " is no allocated cell" + where());
        const std::size_t payload = it->size - 4;
        if (payload < need)
            fail(what + " at file offset " + hex(kBaseBlock + std::size_t(offset)) +
                 " is too small for its contents" + where());
        if (!used_.insert(offset).second)
            fail(what + " at file offset " + hex(kBaseBlock + std::size_t(offset)) +
                 " is used a second time (a cycle or a shared cell)" + where());
        if (length)
            *length = payload;
        return d_ + kBaseBlock + offset + 4;
    }

    std::string where() const {
        if (path_ == nullptr)
            return std::string();
        std::string p;
        for (const std::string& part : *path_)
            p += "\\" + part;
        return " (in key \"" + (p.empty() ? std::string("\\") : p) + "\")";
    }

    std::string name(const std::uint8_t* p, std::size_t n, bool latin1, const std::string& what) {
        std::string out;
        if (latin1) {
            regtext::latin1ToUtf8(p, n, out);
            return out;
        }
        if (n % 2 != 0)
            fail(what + " has an odd length in UTF-16" + where());
        if (!regtext::utf16leToUtf8(p, n, out))
            fail(what + " is not valid UTF-16" + where(), ERROR_NO_UNICODE_TRANSLATION);
        return out;
    }

    void readKey(std::uint32_t offset, registry::Key& key, std::vector<std::string>& path,
                 bool root) {
        if (!root && path.size() >= kMaxDepth)
            fail("keys nest deeper than " + std::to_string(kMaxDepth) + " levels" + where());
        path_ = &path;
        const std::string what = root ? "the root key" : "a key";
        std::size_t length = 0;
        const std::uint8_t* p = cell(offset, 76, what, &length);
        if (std::memcmp(p, "nk", 2) != 0)
            fail(what + " at file offset " + hex(kBaseBlock + std::size_t(offset)) +
                 " is no key node" + where());
        const std::uint16_t flags = u16at(p + 2);
        const std::uint16_t nameLen = u16at(p + 72);
        if (nameLen == 0 || nameLen > length - 76)
            fail("the name of the key at file offset " + hex(kBaseBlock + std::size_t(offset)) +
                 " has a wrong length" + where());
        key.name = name(p + 76, nameLen, flags & kKeyCompName, "a key name");
        if (!root) {
            if (key.name.find('\\') != std::string::npos)
                fail("the key name \"" + key.name + "\" holds a backslash" + where());
            if (regtext::utf16Units(key.name) > kMaxKeyName)
                fail("a key name is longer than 255 characters" + where());
            path.push_back(key.name);
        }

        const std::uint32_t values = u32at(p + 36);
        const std::uint32_t valueList = u32at(p + 40);
        const std::uint32_t subkeys = u32at(p + 20);
        const std::uint32_t subkeyList = u32at(p + 28);
        if (values > 0)
            readValues(values, valueList, key);
        if (subkeys > 0)
            readSubkeys(subkeys, subkeyList, key, path);
        if (!root)
            path.pop_back();
        path_ = &path;
    }

    static std::uint16_t u16at(const std::uint8_t* p) {
        return static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }
    static std::uint32_t u32at(const std::uint8_t* p) {
        return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }

    void readValues(std::uint32_t count, std::uint32_t list, registry::Key& key) {
        if (count > cells_.size())
            fail("a key claims " + std::to_string(count) + " values, more than the file holds" +
                 where());
        const std::uint8_t* l = cell(list, std::size_t(count) * 4, "a value list");
        std::unordered_set<std::string> names;
        for (std::uint32_t i = 0; i < count; ++i) {
            registry::Value v;
            readValue(u32at(l + 4 * std::size_t(i)), v);
            if (!names.insert(registry::nameFold(v.name)).second)
                fail("the value \"" + v.name + "\" appears twice" + where());
            key.values.push_back(std::move(v));
        }
    }

    void readValue(std::uint32_t offset, registry::Value& v) {
        std::size_t length = 0;
        const std::uint8_t* p = cell(offset, 20, "a value", &length);
        if (std::memcmp(p, "vk", 2) != 0)
            fail("the value at file offset " + hex(kBaseBlock + std::size_t(offset)) +
                 " is no value node" + where());
        const std::uint16_t nameLen = u16at(p + 2);
        if (nameLen > length - 20)
            fail("the name of the value at file offset " + hex(kBaseBlock + std::size_t(offset)) +
                 " is longer than its cell" + where());
        v.name = name(p + 20, nameLen, u16at(p + 16) & kValueCompName, "a value name");
        if (regtext::utf16Units(v.name) > kMaxValueName)
            fail("a value name is longer than 16383 characters" + where());
        const std::string what = "the data of the value \"" + v.name + "\"";
        v.type = u32at(p + 12);
        const std::uint32_t sizeField = u32at(p + 4);
        const std::uint32_t dataField = u32at(p + 8);
        std::vector<std::uint8_t> raw;
        if (sizeField & 0x80000000u) {
            const std::uint32_t n = sizeField & 0x7FFFFFFFu;
            if (n > 4)
                fail(what + " claims " + std::to_string(n) + " bytes inline, more than 4" +
                     where());
            for (std::uint32_t i = 0; i < n; ++i)
                raw.push_back(static_cast<std::uint8_t>(dataField >> (8 * i)));
        } else if (sizeField > 0) {
            readData(sizeField, dataField, what, raw);
        }
        if (v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ) {
            if (raw.size() % 2 != 0)
                fail(what + " has an odd length in UTF-16" + where());
            std::string utf8;
            if (!regtext::utf16leToUtf8(raw.data(), raw.size(), utf8))
                fail(what + " is not valid UTF-16" + where(), ERROR_NO_UNICODE_TRANSLATION);
            v.data.assign(utf8.begin(), utf8.end());
        } else {
            v.data = std::move(raw);
        }
    }

    void readData(std::uint32_t size, std::uint32_t offset, const std::string& what,
                  std::vector<std::uint8_t>& out) {
        if (size > bins_)
            fail(what + " claims " + std::to_string(size) + " bytes, more than the file holds" +
                 where());
        auto it = std::lower_bound(cells_.begin(), cells_.end(), offset,
                                   [](const Cell& c, std::uint32_t o) { return c.offset < o; });
        if (it == cells_.end() || it->offset != offset)
            fail(what + " at offset " + hex(offset) + " is no allocated cell" + where());
        // A cell big enough holds the data itself; a smaller one must be a big-data index.
        if (it->size - 4 >= size) {
            const std::uint8_t* p = cell(offset, size, what);
            out.assign(p, p + size);
            return;
        }
        const std::uint8_t* db = cell(offset, 8, what);
        if (std::memcmp(db, "db", 2) != 0 || minor_ < 4)
            fail(what + " at file offset " + hex(kBaseBlock + std::size_t(offset)) +
                 " is shorter than its size " + std::to_string(size) + where());
        const std::uint16_t segments = u16at(db + 2);
        const std::uint32_t list = u32at(db + 4);
        if (segments == 0 || std::uint64_t(segments) * kBigDataSegment < size ||
            std::uint64_t(segments - 1) * kBigDataSegment >= size)
            fail(what + " has " + std::to_string(segments) + " segments for " +
                 std::to_string(size) + " bytes" + where());
        const std::uint8_t* l = cell(list, std::size_t(segments) * 4, "a big-data segment list");
        out.reserve(size);
        for (std::uint16_t i = 0; i < segments; ++i) {
            const std::size_t len = std::min<std::size_t>(kBigDataSegment, size - out.size());
            const std::uint8_t* s = cell(u32at(l + 4 * std::size_t(i)), len, "a big-data segment");
            out.insert(out.end(), s, s + len);
        }
    }

    void readSubkeys(std::uint32_t count, std::uint32_t list, registry::Key& key,
                     std::vector<std::string>& path) {
        if (count > cells_.size())
            fail("a key claims " + std::to_string(count) + " subkeys, more than the file holds" +
                 where());
        std::vector<std::uint32_t> children;
        readList(list, children, true);
        if (children.size() != count)
            fail("a key claims " + std::to_string(count) + " subkeys but lists " +
                 std::to_string(children.size()) + where());
        std::unordered_set<std::string> names;
        for (std::uint32_t child : children) {
            registry::Key sub;
            readKey(child, sub, path, false);
            if (!names.insert(registry::nameFold(sub.name)).second)
                fail("the subkey \"" + sub.name + "\" appears twice" + where());
            key.subkeys.push_back(std::move(sub));
        }
        // The store keeps subkeys in order of name, ignoring letter case.
        std::stable_sort(key.subkeys.begin(), key.subkeys.end(),
                         [](const registry::Key& a, const registry::Key& b) {
                             return registry::nameFold(a.name) < registry::nameFold(b.name);
                         });
    }

    void readList(std::uint32_t offset, std::vector<std::uint32_t>& out, bool top) {
        std::size_t length = 0;
        const std::uint8_t* p = cell(offset, 4, "a subkey list", &length);
        const std::uint16_t n = u16at(p + 2);
        std::size_t step;
        if (std::memcmp(p, "lh", 2) == 0 || std::memcmp(p, "lf", 2) == 0)
            step = 8;
        else if (std::memcmp(p, "li", 2) == 0 || std::memcmp(p, "ri", 2) == 0)
            step = 4;
        else
            fail("the subkey list at file offset " + hex(kBaseBlock + std::size_t(offset)) +
                 " has an unknown signature" + where());
        if (4 + step * n > length)
            fail("the subkey list at file offset " + hex(kBaseBlock + std::size_t(offset)) +
                 " is shorter than its " + std::to_string(n) + " entries" + where());
        const bool index = std::memcmp(p, "ri", 2) == 0;
        if (index && !top)
            fail("the subkey index at file offset " + hex(kBaseBlock + std::size_t(offset)) +
                 " lies inside another index" + where());
        for (std::uint16_t i = 0; i < n; ++i) {
            const std::uint32_t entry = u32at(p + 4 + step * i);
            if (index)
                readList(entry, out, false);
            else
                out.push_back(entry);
        }
    }

    const std::uint8_t* d_;
    std::size_t size_;
    std::uint32_t minor_ = 0;
    std::uint32_t bins_ = 0;
    std::vector<Cell> cells_; // allocated cells, by offset
    std::unordered_set<std::uint32_t> used_;
    const std::vector<std::string>* path_ = nullptr;
};

} // namespace

LONG readHive(const std::uint8_t* data, std::size_t size, registry::Key& root, std::string& error) {
    root = registry::Key{};
    error.clear();
    try {
        Reader reader(data, size);
        registry::Key out;
        reader.run(out);
        root = std::move(out);
        return ERROR_SUCCESS;
    } catch (const Bad& bad) {
        error = bad.text;
        return bad.code;
    } catch (const std::bad_alloc&) {
        error = "not enough memory to read the hive";
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LONG loadHiveFile(const std::string& path, registry::Key& root, std::string& error) {
    std::vector<std::uint8_t> bytes;
    LONG rc = regtext::readWholeFile(path, kMaxFile, bytes, error);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = readHive(bytes.data(), bytes.size(), root, error);
    if (rc != ERROR_SUCCESS)
        error = "\"" + path + "\": " + error;
    return rc;
}

} // namespace hive
