#include "Drives.h"
#include "HiveWriter.h"
#include "Registry.h"

#include <QFile>

// The platform demands the backup privilege of the caller and applies `security` to the new
// file; this system has neither, so the file gets the permissions of any new file of the user.
LONG RegSaveKeyA(HKEY key, const char* file, const SECURITY_ATTRIBUTES*) {
    if (!file || !*file)
        return ERROR_INVALID_PARAMETER;
    // A path on a drive that maps to nothing names no file: never write it anywhere else.
    const QByteArray host = drives::toHostBytes(QString::fromUtf8(file));
    if (host.isEmpty())
        return ERROR_PATH_NOT_FOUND;
    return registry::saveKeyToHostFile(key, host.toStdString());
}

namespace registry {

LONG saveKeyToHostFile(HKEY key, const std::string& hostPath) {
    Key tree;
    LONG rc = readTree(key, tree);
    if (rc != ERROR_SUCCESS)
        return rc;
    // The root of the store has no name of its own; a hive's root key needs one.
    if (tree.name.empty())
        tree.name = "HKEY_CURRENT_USER";
    return hive::saveHiveFile(tree, hostPath);
}

} // namespace registry
