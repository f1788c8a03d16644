// Registry editor text files (".reg"): the writer of what the platform's registry editor exports,
// and a reader of what it imports. Two forms: "Windows Registry Editor Version 5.00" (UTF-16LE
// with a byte-order mark, CR LF; strings in hex(...) data are UTF-16LE) and the older "REGEDIT4"
// (8-bit text, here UTF-8; strings in hex(...) data are 8-bit too). The reader takes files from
// anywhere: every line is checked, and a fault is reported with its line number.
#pragma once

#include "Registry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace regfile {

enum class Form { Unicode, Ansi };

constexpr std::uint64_t kMaxFile = 1ull << 30;

// The text for `tree` and everything below it, the key named `keyName` in full
// ("HKEY_CURRENT_USER\Quorvane"). A REG_SZ that ends in its one terminator and holds no line
// break is written as a quoted string, a REG_DWORD of four bytes as dword:, everything else as
// hex bytes. Returns ERROR_NO_UNICODE_TRANSLATION for a string that is not UTF-8 in the
// Unicode form, ERROR_INVALID_PARAMETER for a name holding a line break; `error` names it.
LONG write(const registry::Key& tree, const std::string& keyName, Form form,
           std::vector<std::uint8_t>& out, std::string& error);

// The changes the text in `data` asks for, in order; `lines` gets the line of each change.
// Returns ERROR_BADDB with `error` giving the line and the fault.
LONG parse(const std::uint8_t* data, std::size_t size, std::vector<registry::Change>& changes,
           std::vector<std::size_t>& lines, std::string& error);

} // namespace regfile
