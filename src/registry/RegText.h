// Text conversions and file reading shared by the hive reader and the .reg reader and writer.
#pragma once

#include "Registry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace regtext {

// Each byte as the character of the same number (ISO 8859-1), appended as UTF-8.
void latin1ToUtf8(const std::uint8_t* p, std::size_t n, std::string& out);
// UTF-16LE to UTF-8, unit for unit (a zero unit becomes a zero byte). False for a lone surrogate.
bool utf16leToUtf8(const std::uint8_t* p, std::size_t n, std::string& out);
// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) to UTF-16LE bytes,
// appended. False when `p` is not UTF-8.
bool utf8ToUtf16le(const std::uint8_t* p, std::size_t n, std::vector<std::uint8_t>& out);
// Whether `p` is strict UTF-8 throughout.
bool isUtf8(const std::uint8_t* p, std::size_t n);
// UTF-8 to UTF-16, replacing each byte that begins no valid sequence of strict UTF-8 with U+FFFD.
// False when anything was replaced.
bool utf8ToUtf16(const std::uint8_t* p, std::size_t n, std::u16string& out);
// The number of UTF-16 code units of valid UTF-8 text.
std::size_t utf16Units(const std::string& utf8);

// The value of a hexadecimal digit, or -1 for any other character.
int hexDigit(char c);

// The whole regular file at the host path `path`, at most `limit` bytes. `error` names the file.
LONG readWholeFile(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>& out,
                   std::string& error);

} // namespace regtext
