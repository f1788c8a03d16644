#include "HiveWriter.h"

#include "HiveFormat.h"
#include "RegText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hive {

namespace {

using namespace format;

constexpr std::uint32_t kMaxInline = 4;

// Thrown when the hive would outgrow the format's 32-bit offsets.
struct TooLarge {};

std::uint32_t align(std::uint32_t n, std::uint32_t to) {
    return (n + to - 1) / to * to;
}

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put64(std::uint8_t* p, std::uint64_t v) {
    put32(p, static_cast<std::uint32_t>(v));
    put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

std::uint32_t get32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A name as UTF-16: bytes that are no UTF-8 become U+FFFD each, as the platform's conversion
// writes them.
void utf8ToUtf16(const std::string& s, std::u16string& out) {
    regtext::utf8ToUtf16(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), out);
}

// A name as the hive stores it: one byte per character when all fit in Latin-1, else UTF-16LE.
struct Name {
    std::u16string units;
    std::vector<std::uint8_t> bytes;
    bool latin1 = true;
};

Name encodeName(const std::u16string& units) {
    Name n;
    n.units = units;
    n.latin1 = std::all_of(units.begin(), units.end(), [](char16_t c) { return c <= 0xFF; });
    if (n.latin1) {
        n.bytes.assign(units.begin(), units.end());
    } else {
        n.bytes.reserve(units.size() * 2);
        for (char16_t c : units) {
            n.bytes.push_back(static_cast<std::uint8_t>(c));
            n.bytes.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    }
    return n;
}

bool isString(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Value data as the hive holds it. Strings become UTF-16LE; a missing terminator is added (for a
// string list: up to the final empty string), but data of length zero stays empty.
LONG encodeData(const registry::Value& value, std::vector<std::uint8_t>& out) {
    if (!isString(value.type) || value.data.empty()) {
        out = value.data;
        return ERROR_SUCCESS;
    }
    // A zero byte is an ordinary character here: a terminator, or a separator of a string list.
    std::u16string text;
    regtext::utf8ToUtf16(value.data.data(), value.data.size(), text);
    if (text.back() != u'\0')
        text.push_back(u'\0');
    // An empty list is the final terminator alone; a list with strings ends in two zeros.
    if (value.type == REG_MULTI_SZ && text.size() > 1 && text[text.size() - 2] != u'\0')
        text.push_back(u'\0');
    out.resize(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i)
        put16(out.data() + 2 * i, text[i]);
    return ERROR_SUCCESS;
}

bool lessUpper(const std::u16string& a, const std::u16string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = upcase(a[i]), y = upcase(b[i]);
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

// The self-relative security descriptor every key shares: owner Administrators, group SYSTEM,
// full access for SYSTEM and Administrators, read access for Everyone, inherited by subkeys.
std::vector<std::uint8_t> securityDescriptor() {
    std::vector<std::uint8_t> sd(120, 0);
    std::uint8_t* p = sd.data();
    p[0] = 1;             // revision
    put16(p + 2, 0x8004); // SE_SELF_RELATIVE | SE_DACL_PRESENT
    put32(p + 4, 92);     // owner
    put32(p + 8, 108);    // group
    put32(p + 12, 0);     // no SACL
    put32(p + 16, 20);    // DACL
    std::uint8_t* acl = p + 20;
    acl[0] = 2;
    put16(acl + 2, 72);
    put16(acl + 4, 3);
    auto sid = [](std::uint8_t* s, std::uint8_t authority,
                  std::initializer_list<std::uint32_t> subs) {
        s[0] = 1;
        s[1] = static_cast<std::uint8_t>(subs.size());
        s[7] = authority; // 6-byte big-endian authority
        int i = 0;
        for (std::uint32_t sub : subs)
            put32(s + 8 + 4 * i++, sub);
        return 8 + 4 * static_cast<int>(subs.size());
    };
    auto ace = [&](std::uint8_t* a, std::uint32_t mask, std::uint8_t authority,
                   std::initializer_list<std::uint32_t> subs) {
        a[0] = 0;    // ACCESS_ALLOWED
        a[1] = 0x02; // CONTAINER_INHERIT
        put32(a + 4, mask);
        const int size = 8 + sid(a + 8, authority, subs);
        put16(a + 2, static_cast<std::uint16_t>(size));
        return size;
    };
    std::uint8_t* a = acl + 8;
    a += ace(a, 0xF003F, 5, {18});
    a += ace(a, 0xF003F, 5, {32, 544});
    ace(a, 0x20019, 1, {0});
    sid(p + 92, 5, {32, 544});
    sid(p + 108, 5, {18});
    return sd;
}

class Writer {
public:
    explicit Writer(std::uint64_t fileTime) : time_(fileTime) {}

    LONG run(const registry::Key& root, std::vector<std::uint8_t>& out) {
        const std::vector<std::uint8_t> sd = securityDescriptor();
        sk_ = alloc(20 + static_cast<std::uint32_t>(sd.size()));
        std::uint8_t* p = payload(sk_);
        std::memcpy(p, "sk", 2);
        put32(p + 4, sk_);
        put32(p + 8, sk_);
        put32(p + 16, static_cast<std::uint32_t>(sd.size()));
        std::memcpy(p + 20, sd.data(), sd.size());

        std::u16string rootName;
        utf8ToUtf16(root.name, rootName);
        std::uint32_t rootOffset = 0;
        LONG rc = writeKey(root, rootName, 0, true, rootOffset);
        if (rc != ERROR_SUCCESS)
            return rc;
        closeBin();
        put32(payload(sk_) + 12, keys_);

        out.assign(kBaseBlock, 0);
        std::uint8_t* b = out.data();
        std::memcpy(b, "regf", 4);
        put32(b + 4, 1);
        put32(b + 8, 1);
        put32(b + 20, 1);
        put32(b + 24, 5);
        put32(b + 28, 0);
        put32(b + 32, 1);
        put32(b + 36, rootOffset);
        put32(b + 40, static_cast<std::uint32_t>(bins_.size()));
        put32(b + 44, 1);
        // Readers compare the plain XOR, the platform maps 0 and ~0 to other values: a time
        // that gives either is moved on a tick so that both agree.
        std::uint64_t stamp = time_;
        for (;;) {
            put64(b + 12, stamp);
            put32(b + 508, 0);
            std::uint32_t x = 0;
            for (int i = 0; i < 127; ++i)
                x ^= get32(b + 4 * i);
            if (x != 0 && x != 0xFFFFFFFFu) {
                put32(b + 508, x);
                break;
            }
            ++stamp;
        }
        put64(bins_.data() + 20, stamp); // the first bin keeps a copy of the header's time
        out.insert(out.end(), bins_.begin(), bins_.end());
        return ERROR_SUCCESS;
    }

private:
    struct Child {
        std::uint32_t offset;
        std::u16string name;
    };

    std::uint8_t* payload(std::uint32_t cell) { return bins_.data() + cell + 4; }

    // An allocated cell with room for `size` payload bytes, zeroed; returns its offset.
    std::uint32_t alloc(std::uint32_t size) {
        if (size > 0x7FFFFFF0u)
            throw TooLarge{};
        const std::uint32_t cell = align(size + 4, 8);
        if (binEnd_ - pos_ < cell) {
            closeBin();
            openBin(std::max(kBinAlign, align(kBinHeader + cell, kBinAlign)));
        }
        const std::uint32_t at = pos_;
        put32(bins_.data() + at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(cell)));
        pos_ += cell;
        return at;
    }

    void openBin(std::uint32_t size) {
        if (bins_.size() + size > 0xFFFFFFFFu - kBaseBlock)
            throw TooLarge{};
        const std::uint32_t start = static_cast<std::uint32_t>(bins_.size());
        bins_.resize(bins_.size() + size, 0);
        std::uint8_t* h = bins_.data() + start;
        std::memcpy(h, "hbin", 4);
        put32(h + 4, start);
        put32(h + 8, size);
        put64(h + 20, time_);
        pos_ = start + kBinHeader;
        binEnd_ = start + size;
    }

    // The unused tail of a bin is one free cell, so that cells tile every bin.
    void closeBin() {
        if (binEnd_ > pos_)
            put32(bins_.data() + pos_, binEnd_ - pos_);
        pos_ = binEnd_;
    }

    LONG writeData(const std::vector<std::uint8_t>& data, std::uint32_t& offset) {
        const std::size_t n = data.size();
        if (n <= kBigDataSegment) {
            offset = alloc(static_cast<std::uint32_t>(n));
            std::memcpy(payload(offset), data.data(), n);
            return ERROR_SUCCESS;
        }
        const std::size_t segments = (n + kBigDataSegment - 1) / kBigDataSegment;
        if (segments > 0xFFFF)
            return ERROR_INVALID_PARAMETER;
        offset = alloc(8);
        std::memcpy(payload(offset), "db", 2);
        put16(payload(offset) + 2, static_cast<std::uint16_t>(segments));
        const std::uint32_t list = alloc(static_cast<std::uint32_t>(4 * segments));
        put32(payload(offset) + 4, list);
        for (std::size_t i = 0; i < segments; ++i) {
            const std::size_t from = i * kBigDataSegment;
            const auto len =
                static_cast<std::uint32_t>(std::min<std::size_t>(kBigDataSegment, n - from));
            // hivex and libregf take a segment to be its cell size less 8: size it so.
            const std::uint32_t seg = alloc(len + 4);
            std::memcpy(payload(seg), data.data() + from, len);
            put32(payload(list) + 4 * i, seg);
        }
        return ERROR_SUCCESS;
    }

    LONG writeValue(const registry::Value& value, std::uint32_t& offset, std::size_t& nameUnits,
                    std::size_t& dataSize) {
        std::u16string units;
        utf8ToUtf16(value.name, units);
        if (units.size() > kMaxValueName)
            return ERROR_INVALID_PARAMETER;
        const Name name = encodeName(units);
        std::vector<std::uint8_t> data;
        LONG rc = encodeData(value, data);
        if (rc != ERROR_SUCCESS)
            return rc;
        if (data.size() > 0x7FFFFFFFu)
            return ERROR_INVALID_PARAMETER;
        nameUnits = units.size();
        dataSize = data.size();

        offset = alloc(20 + static_cast<std::uint32_t>(name.bytes.size()));
        const std::uint32_t vk = offset;
        std::uint32_t sizeField = static_cast<std::uint32_t>(data.size());
        std::uint32_t dataField = kNil;
        // Empty data is marked inline with offset NIL: hivex and libregf refuse a plain size 0.
        if (data.size() <= kMaxInline) {
            sizeField |= 0x80000000u;
            if (!data.empty()) {
                dataField = 0;
                for (std::size_t i = 0; i < data.size(); ++i)
                    dataField |= static_cast<std::uint32_t>(data[i]) << (8 * i);
            }
        } else {
            rc = writeData(data, dataField);
            if (rc != ERROR_SUCCESS)
                return rc;
        }
        std::uint8_t* p = payload(vk);
        std::memcpy(p, "vk", 2);
        put16(p + 2, static_cast<std::uint16_t>(name.bytes.size()));
        put32(p + 4, sizeField);
        put32(p + 8, dataField);
        put32(p + 12, value.type);
        put16(p + 16, name.latin1 ? kValueCompName : 0);
        if (!name.bytes.empty()) // the default value has no name, and memcpy no null source
            std::memcpy(p + 20, name.bytes.data(), name.bytes.size());
        return ERROR_SUCCESS;
    }

    std::uint32_t writeLeaf(const Child* children, std::size_t count) {
        const std::uint32_t leaf = alloc(static_cast<std::uint32_t>(4 + 8 * count));
        std::uint8_t* p = payload(leaf);
        std::memcpy(p, "lh", 2);
        put16(p + 2, static_cast<std::uint16_t>(count));
        for (std::size_t i = 0; i < count; ++i) {
            put32(p + 4 + 8 * i, children[i].offset);
            put32(p + 8 + 8 * i, lhHash(children[i].name));
        }
        return leaf;
    }

    LONG writeKey(const registry::Key& key, const std::u16string& units, std::uint32_t parent,
                  bool root, std::uint32_t& offset) {
        if (units.empty() || units.size() > kMaxKeyName)
            return ERROR_BADKEY;
        const Name name = encodeName(units);
        const std::uint32_t nk = alloc(76 + static_cast<std::uint32_t>(name.bytes.size()));
        offset = nk;
        ++keys_;
        {
            std::uint8_t* p = payload(nk);
            std::memcpy(p, "nk", 2);
            std::uint16_t flags = name.latin1 ? kKeyCompName : 0;
            if (root)
                flags |= kKeyHiveEntry | kKeyNoDelete;
            put16(p + 2, flags);
            put64(p + 4, time_);
            put32(p + 16, parent);
            put32(p + 28, kNil);
            put32(p + 32, kNil);
            put32(p + 40, kNil);
            put32(p + 44, sk_);
            put32(p + 48, kNil);
            put16(p + 72, static_cast<std::uint16_t>(name.bytes.size()));
            std::memcpy(p + 76, name.bytes.data(), name.bytes.size());
        }

        std::size_t maxValueName = 0, maxValueData = 0;
        if (!key.values.empty()) {
            std::vector<std::uint32_t> vks(key.values.size());
            for (std::size_t i = 0; i < key.values.size(); ++i) {
                std::size_t nameUnits = 0, dataSize = 0;
                LONG rc = writeValue(key.values[i], vks[i], nameUnits, dataSize);
                if (rc != ERROR_SUCCESS)
                    return rc;
                maxValueName = std::max(maxValueName, nameUnits);
                maxValueData = std::max(maxValueData, dataSize);
            }
            if (vks.size() > 0x1FFFFFFFu)
                throw TooLarge{};
            const std::uint32_t list = alloc(static_cast<std::uint32_t>(4 * vks.size()));
            for (std::size_t i = 0; i < vks.size(); ++i)
                put32(payload(list) + 4 * i, vks[i]);
            put32(payload(nk) + 36, static_cast<std::uint32_t>(vks.size()));
            put32(payload(nk) + 40, list);
        }

        std::vector<Child> children;
        children.reserve(key.subkeys.size());
        for (const registry::Key& sub : key.subkeys) {
            Child c{0, {}};
            utf8ToUtf16(sub.name, c.name);
            children.push_back(std::move(c));
        }
        std::vector<std::size_t> order(children.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return lessUpper(children[a].name, children[b].name);
        });
        std::vector<Child> sorted;
        sorted.reserve(children.size());
        std::size_t maxSubkeyName = 0;
        for (std::size_t i : order) {
            Child c = std::move(children[i]);
            LONG rc = writeKey(key.subkeys[i], c.name, nk, false, c.offset);
            if (rc != ERROR_SUCCESS)
                return rc;
            maxSubkeyName = std::max(maxSubkeyName, c.name.size());
            sorted.push_back(std::move(c));
        }
        if (!sorted.empty()) {
            std::uint32_t list;
            if (sorted.size() <= kLeafEntries) {
                list = writeLeaf(sorted.data(), sorted.size());
            } else {
                const std::size_t leaves = (sorted.size() + kLeafEntries - 1) / kLeafEntries;
                if (leaves > 0xFFFF)
                    return ERROR_INVALID_PARAMETER;
                std::vector<std::uint32_t> leafOffsets;
                for (std::size_t i = 0; i < sorted.size(); i += kLeafEntries)
                    leafOffsets.push_back(writeLeaf(
                        sorted.data() + i, std::min<std::size_t>(kLeafEntries, sorted.size() - i)));
                list = alloc(static_cast<std::uint32_t>(4 + 4 * leaves));
                std::memcpy(payload(list), "ri", 2);
                put16(payload(list) + 2, static_cast<std::uint16_t>(leaves));
                for (std::size_t i = 0; i < leaves; ++i)
                    put32(payload(list) + 4 + 4 * i, leafOffsets[i]);
            }
            put32(payload(nk) + 20, static_cast<std::uint32_t>(sorted.size()));
            put32(payload(nk) + 28, list);
        }
        // The platform keeps the longest subkey name in the low 16 bits only.
        put32(payload(nk) + 52, static_cast<std::uint32_t>(2 * maxSubkeyName));
        put32(payload(nk) + 60, static_cast<std::uint32_t>(2 * maxValueName));
        put32(payload(nk) + 64, static_cast<std::uint32_t>(maxValueData));
        return ERROR_SUCCESS;
    }

    std::uint64_t time_;
    std::vector<std::uint8_t> bins_;
    std::uint32_t pos_ = 0;
    std::uint32_t binEnd_ = 0;
    std::uint32_t sk_ = 0;
    std::uint32_t keys_ = 0;
};

} // namespace

std::uint64_t currentFileTime() {
    using namespace std::chrono;
    // 1601-01-01 to 1970-01-01 in 100 ns ticks.
    constexpr std::uint64_t kEpochDelta = 116444736000000000ull;
    const auto ticks =
        duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
    return kEpochDelta + static_cast<std::uint64_t>(ticks);
}

char16_t upcase(char16_t unit) {
    return registry::upcase(unit);
}

std::uint32_t lhHash(std::u16string_view name) {
    std::uint32_t h = 0;
    for (char16_t c : name)
        h = h * 37 + upcase(c);
    return h;
}

std::uint32_t headerChecksum(const std::uint8_t* baseBlock) {
    std::uint32_t x = 0;
    for (int i = 0; i < 127; ++i)
        x ^= get32(baseBlock + 4 * i);
    if (x == 0xFFFFFFFFu)
        return 0xFFFFFFFEu;
    if (x == 0)
        return 1;
    return x;
}

LONG writeHive(const registry::Key& root, std::uint64_t fileTime, std::vector<std::uint8_t>& out) {
    out.clear();
    try {
        Writer writer(fileTime);
        std::vector<std::uint8_t> bytes;
        const LONG rc = writer.run(root, bytes);
        if (rc == ERROR_SUCCESS)
            out.swap(bytes);
        return rc;
    } catch (const TooLarge&) {
        return ERROR_INVALID_PARAMETER;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LONG win32FromErrno(int error) {
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP:
        return ERROR_CANT_RESOLVE_FILENAME;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    case EIO:
        return ERROR_WRITE_FAULT;
    case EFBIG:
        return ERROR_FILE_TOO_LARGE;
    default:
        return ERROR_CANTWRITE;
    }
}

namespace {

thread_local std::string gFileError;

int failed(const char* operation, const std::string& file, int error) {
    gFileError = std::string(operation) + " \"" + file + "\": " + std::strerror(error);
    return error;
}

std::string directoryOf(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
}

// The new file's bytes, written first to a file without a name in the target's directory and
// linked into place when complete, so that no partial file is ever visible, not even after a
// kill. Where the file system has no unnamed files, a hidden temporary file beside the target
// takes its place and is removed on every path that can still run.
class TempFile {
public:
    ~TempFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!path_.empty())
            ::unlink(path_.c_str());
    }

    int create(const std::string& target) {
        const std::string dir = directoryOf(target);
        // The mode leaves the permissions to the umask, as for any new file.
        fd_ = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ >= 0)
            return 0;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return failed("Cannot create a file in", dir, errno);
        const std::size_t slash = target.rfind('/');
        const std::string prefix =
            slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int attempt = 0; attempt < 100; ++attempt) {
            char suffix[24];
            std::snprintf(suffix, sizeof suffix, ".%012llx.tmp",
                          static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
            std::string path = prefix + "." + base + suffix;
            fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) {
                path_ = std::move(path);
                return 0;
            }
            if (errno != EEXIST)
                return failed("Cannot create a file in", dir, errno);
        }
        return failed("Cannot create a file in", dir, EEXIST);
    }

    int write(const std::vector<std::uint8_t>& bytes, const std::string& target) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return failed("Cannot write", target, errno);
            }
            done += static_cast<std::size_t>(n);
        }
        if (::fsync(fd_) != 0)
            return failed("Cannot write", target, errno);
        return 0;
    }

    // Gives the file the target's name unless that name exists, atomically.
    int publish(const std::string& target) {
        if (path_.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd_);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0)
                return closeFile(target);
            // Without /proc the descriptor itself can be linked by a privileged process.
            if (errno == ENOENT && ::linkat(fd_, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0)
                return closeFile(target);
            return failed("Cannot create", target, errno);
        }
        if (int error = closeFile(target))
            return error;
        if (::link(path_.c_str(), target.c_str()) == 0)
            return 0;
        const int linkError = errno;
        // File systems without hard links (FAT on removable media) may still rename exclusively.
        if (linkError == EPERM || linkError == EOPNOTSUPP || linkError == EMLINK) {
            if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) ==
                0) {
                path_.clear();
                return 0;
            }
            return failed("Cannot create", target,
                          errno == EINVAL || errno == ENOSYS ? linkError : errno);
        }
        return failed("Cannot create", target, linkError);
    }

private:
    int closeFile(const std::string& target) {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : failed("Cannot write", target, errno);
    }

    int fd_ = -1;
    std::string path_;
};

void syncDirectory(const std::string& target) {
    const int fd = ::open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::string lastFileError() {
    return gFileError;
}

LONG saveHiveFile(const registry::Key& root, const std::string& path) {
    gFileError.clear();
    if (path.empty())
        return ERROR_PATH_NOT_FOUND;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0)
        return ERROR_ALREADY_EXISTS;
    if (errno != ENOENT) {
        const int error = errno;
        return win32FromErrno(failed("Cannot look at", path, error));
    }

    std::vector<std::uint8_t> bytes;
    LONG rc = writeHive(root, currentFileTime(), bytes);
    if (rc != ERROR_SUCCESS)
        return rc;
    return writeNewFile(path, bytes);
}

LONG writeNewFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (path.empty())
        return ERROR_PATH_NOT_FOUND;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0)
        return ERROR_ALREADY_EXISTS;
    TempFile temp;
    int error = temp.create(path);
    if (!error)
        error = temp.write(bytes, path);
    if (!error)
        error = temp.publish(path);
    if (error)
        return win32FromErrno(error);
    syncDirectory(path);
    return ERROR_SUCCESS;
}

} // namespace hive
