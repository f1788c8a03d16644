#include "RegText.h"

#include "HiveWriter.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace regtext {

namespace {

void putUtf8(std::uint32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The code point at p[i] and its length in bytes, or length 0 when the bytes are not UTF-8.
std::size_t decode(const std::uint8_t* s, std::size_t n, std::size_t i, std::uint32_t& c) {
    c = s[i];
    std::size_t len;
    std::uint32_t min;
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0)
        len = 2, min = 0x80, c &= 0x1F;
    else if ((c & 0xF0) == 0xE0)
        len = 3, min = 0x800, c &= 0x0F;
    else if ((c & 0xF8) == 0xF0)
        len = 4, min = 0x10000, c &= 0x07;
    else
        return 0;
    if (n - i < len)
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return len;
}

} // namespace

void latin1ToUtf8(const std::uint8_t* p, std::size_t n, std::string& out) {
    out.reserve(out.size() + n);
    for (std::size_t i = 0; i < n; ++i)
        putUtf8(p[i], out);
}

bool utf16leToUtf8(const std::uint8_t* p, std::size_t n, std::string& out) {
    out.reserve(out.size() + n);
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        std::uint32_t c = p[i] | p[i + 1] << 8;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 3 >= n)
                return false;
            const std::uint32_t low = p[i + 2] | p[i + 3] << 8;
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        putUtf8(c, out);
    }
    return n % 2 == 0;
}

bool utf8ToUtf16le(const std::uint8_t* p, std::size_t n, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + 2 * n);
    auto unit = [&](std::uint32_t u) {
        out.push_back(static_cast<std::uint8_t>(u));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    for (std::size_t i = 0; i < n;) {
        std::uint32_t c;
        const std::size_t len = decode(p, n, i, c);
        if (!len)
            return false;
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
        i += len;
    }
    return true;
}

bool isUtf8(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n;) {
        std::uint32_t c;
        const std::size_t len = decode(p, n, i, c);
        if (!len)
            return false;
        i += len;
    }
    return true;
}

bool utf8ToUtf16(const std::uint8_t* p, std::size_t n, std::u16string& out) {
    out.clear();
    out.reserve(n);
    bool whole = true;
    for (std::size_t i = 0; i < n;) {
        std::uint32_t c;
        const std::size_t len = decode(p, n, i, c);
        if (!len) {
            out.push_back(u'\uFFFD');
            whole = false;
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += len;
    }
    return whole;
}

std::size_t utf16Units(const std::string& utf8) {
    std::size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80)
            ++units; // a lead byte or ASCII
        if ((c & 0xF8) == 0xF0)
            ++units; // four bytes make a surrogate pair
    }
    return units;
}

LONG readWholeFile(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>& out,
                   std::string& error) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    auto failed = [&](int e) {
        error = "\"" + path + "\" cannot be read: " + std::strerror(e);
        return e == ENOENT ? ERROR_FILE_NOT_FOUND : hive::win32FromErrno(e);
    };
    if (fd < 0)
        return failed(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return failed(e);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "\"" + path + "\" is not a regular file";
        return ERROR_INVALID_PARAMETER;
    }
    if (static_cast<std::uint64_t>(st.st_size) > limit) {
        ::close(fd);
        error = "\"" + path + "\" is too large (" + std::to_string(st.st_size) + " bytes)";
        return ERROR_INVALID_PARAMETER;
    }
    try {
        out.resize(static_cast<std::size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
        ::close(fd);
        error = "\"" + path + "\" is too large to read into memory";
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            return failed(e);
        }
        if (n == 0)
            break; // the file shrank while it was read
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    ::close(fd);
    return ERROR_SUCCESS;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace regtext
