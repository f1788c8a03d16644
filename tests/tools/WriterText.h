// The texts the store writer helper writes, so that a test can tell a whole value from a torn one.
#pragma once

#include <string>

inline std::string writerName(long long generation) {
    return "V" + std::to_string(generation % 10);
}

// Sizes vary from a few hundred bytes to several database pages.
inline std::string writerText(long long generation) {
    std::string text = "gen " + std::to_string(generation) + " ";
    text.append(static_cast<size_t>(200 + (generation * 7919) % 9000),
                static_cast<char>('a' + generation % 26));
    return text + "\r\nend";
}
