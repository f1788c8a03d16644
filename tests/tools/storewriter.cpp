// Test helper: writes the settings store as fast as it can.
//   storewriter STORE loop FIRST    writes Quorvane\A\V0..V9 with generation FIRST, FIRST+1, ...
//                                   until it is killed; prints "ready" once V0..V9 are written
//   storewriter STORE count PREFIX N  writes N values PREFIX0 .. PREFIX<N-1>, reading the whole
//                                   tree after each, and exits 0 when every call succeeded
#include "Registry.h"
#include "WriterText.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool set(HKEY key, const std::string& name, const std::string& text) {
    LONG rc =
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    if (rc != ERROR_SUCCESS)
        std::fprintf(stderr, "writing %s failed: %d %s\n", name.c_str(), static_cast<int>(rc),
                     registry::lastStoreError().c_str());
    return rc == ERROR_SUCCESS;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        return 2;
    registry::setStoreFile(argv[1]);
    const std::string mode = argv[2];
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, "Quorvane\\A", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        std::fprintf(stderr, "creating the key failed: %d %s\n", static_cast<int>(rc),
                     registry::lastStoreError().c_str());
        return 1;
    }
    if (mode == "loop") {
        const long long first = std::atoll(argv[3]);
        for (long long g = first;; ++g) {
            if (!set(key, writerName(g), writerText(g)))
                return 1;
            if (g == first + 9) {
                // Every value written once: the test kills at random moments from here on.
                std::puts("ready");
                std::fflush(stdout);
            }
        }
    }
    if (mode == "count" && argc == 5) {
        const std::string prefix = argv[3];
        for (int i = 0, n = std::atoi(argv[4]); i < n; ++i) {
            if (!set(key, prefix + std::to_string(i), prefix + " " + std::to_string(i)))
                return 1;
            registry::Key tree;
            rc = registry::readTree(HKEY_CURRENT_USER, tree);
            if (rc != ERROR_SUCCESS) {
                std::fprintf(stderr, "reading failed: %d %s\n", static_cast<int>(rc),
                             registry::lastStoreError().c_str());
                return 1;
            }
        }
        RegCloseKey(key);
        return 0;
    }
    return 2;
}
