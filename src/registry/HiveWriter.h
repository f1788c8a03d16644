// Our own writer of the Windows registry hive format ("regf", version 1.5), from a key tree of
// the registry layer. The format and what the independent readers check are described in
// regf-notes.md (shared with the project); the tests read our files back with hivex and libregf.
#pragma once

#include "Registry.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hive {

// FILETIME: 100-nanosecond ticks since 1601-01-01 UTC.
std::uint64_t currentFileTime();

// The hive file for `root` and everything below it, as bytes: `root` becomes the hive's root
// key. Strings (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are kept by the store as UTF-8 and written as
// UTF-16LE with their terminators; all other types are copied as they are. Every key gets
// `fileTime` as its last-write time; the header gets it too, moved on by a tick when that is
// needed to keep the header checksum away from its two special values.
// Bytes of a name or string that are no UTF-8 are written as U+FFFD each, as the platform's
// conversion does (regtext::isUtf8 tells which texts those are).
// Returns ERROR_SUCCESS, ERROR_BADKEY for an empty or too long key name,
// ERROR_INVALID_PARAMETER for a value name, a value or a key too large for the format.
LONG writeHive(const registry::Key& root, std::uint64_t fileTime, std::vector<std::uint8_t>& out);

// Writes the hive for `root` to a new file at the host path `path`. The file appears complete
// or not at all: the bytes go to an unnamed file in the same directory (a hidden temporary one
// where the file system has none), which is flushed and then linked into place without replacing
// anything. An existing `path` is never touched (ERROR_ALREADY_EXISTS). File system errors come
// back as Win32 codes (ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_DISK_FULL ...).
LONG saveHiveFile(const registry::Key& root, const std::string& path);
// What the last failed saveHiveFile of this thread could not do on which file ("Cannot write
// \"/x\": File too large"); empty when it failed for no reason of the file system.
std::string lastFileError();

// Writes `bytes` to a new file at the host path `path` in the same way: complete or not at all,
// never replacing an existing file.
LONG writeNewFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The Win32 code for an errno value of a file operation.
LONG win32FromErrno(int error);

// Pieces of the format, for the tests.

// The stored header checksum of a 4096-byte base block: the XOR of its first 127 dwords, with
// 0xFFFFFFFF stored as 0xFFFFFFFE and 0 as 1.
std::uint32_t headerChecksum(const std::uint8_t* baseBlock);
// The hash of an `lh` subkey list entry.
std::uint32_t lhHash(std::u16string_view name);
// Upper-cases one UTF-16 code unit one to one, the way subkey names are compared and hashed.
char16_t upcase(char16_t unit);

constexpr std::uint32_t kBigDataSegment = 16344; // data above this goes into `db` segments
constexpr std::uint32_t kLeafEntries = 500;      // subkeys per `lh` leaf before an `ri` index

} // namespace hive
