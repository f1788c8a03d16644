#include "ResidentMemory.h"

#include <cstdio>
#include <unistd.h>

long long residentMemoryBytes() {
    // The second field of statm is the resident set in pages.
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return -1;
    long long size = 0, resident = 0;
    const int read = std::fscanf(statm, "%lld %lld", &size, &resident);
    std::fclose(statm);
    if (read != 2)
        return -1;
    return resident * sysconf(_SC_PAGESIZE);
}
