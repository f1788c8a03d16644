// Fixed quantities of the registry hive ("regf") format, shared by its reader and its writer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hive::format {

inline constexpr std::uint32_t kNil = 0xFFFFFFFFu; // no cell
inline constexpr std::uint32_t kBaseBlock = 4096;  // the header block before the first bin
inline constexpr std::uint32_t kBinAlign = 4096;
inline constexpr std::uint32_t kBinHeader = 32;
inline constexpr std::uint16_t kKeyHiveEntry = 0x0004;
inline constexpr std::uint16_t kKeyNoDelete = 0x0008;
inline constexpr std::uint16_t kKeyCompName = 0x0020;   // key name stored in Latin-1
inline constexpr std::uint16_t kValueCompName = 0x0001; // value name stored in Latin-1
inline constexpr std::size_t kMaxKeyName = 255;         // UTF-16 code units, as the platform allows
inline constexpr std::size_t kMaxValueName = 16383;     // likewise

} // namespace hive::format
