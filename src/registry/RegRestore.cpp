#include "Drives.h"
#include "HiveReader.h"
#include "Registry.h"

// The platform demands the restore privilege of the caller; this system has no such privilege.
// The flags that make the platform keep the hive volatile or refresh it have no meaning for a
// store that keeps only non-volatile keys and is never loaded as a whole.
LONG RegRestoreKeyA(HKEY key, const char* file, DWORD flags) {
    if (!file || !*file)
        return ERROR_INVALID_PARAMETER;
    if (flags & ~(REG_FORCE_RESTORE | REG_NO_LAZY_FLUSH))
        return ERROR_INVALID_PARAMETER;
    registry::Key tree;
    std::string error;
    const LONG rc =
        hive::loadHiveFile(drives::toHostBytes(QString::fromUtf8(file)).toStdString(), tree, error);
    if (rc != ERROR_SUCCESS)
        return rc;
    return registry::replaceTree(key, tree);
}
