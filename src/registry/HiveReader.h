// Our reader of registry hive files ("regf"), the counterpart of the hive writer. Hive files come
// from anywhere (another machine, a mail, a damaged disk), so every offset, size, count and string
// is checked before it is used; a cell may be used only once, which refuses cycles and shared cells
// (and with them any file that would unfold into more data than it holds), and keys may nest only
// as deep as the platform allows.
#pragma once

#include "Registry.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace hive {

constexpr std::size_t kMaxDepth = 512; // levels of keys below the root, as on the platform

// Reads the hive in `data`: the root key with everything below it. Strings (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ) are converted from UTF-16LE to the store's UTF-8, code unit for
// code unit, terminators included; all other types are copied as they are.
// Returns ERROR_SUCCESS, or ERROR_BADDB with `error` saying what is wrong and where (a file offset
// and the key), ERROR_NO_UNICODE_TRANSLATION for a name or string that is not valid UTF-16.
LONG readHive(const std::uint8_t* data, std::size_t size, registry::Key& root, std::string& error);

// Reads the hive file at the host path `path`; `error` names the file. File errors come back as
// Win32 codes (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED ...).
LONG loadHiveFile(const std::string& path, registry::Key& root, std::string& error);

} // namespace hive
