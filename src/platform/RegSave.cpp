#include "Registry.h"

// The hive writer is not part of the layer yet: saving refuses with a clear code.
LONG RegSaveKeyA(HKEY, const char*, const SECURITY_ATTRIBUTES*) {
    return ERROR_CALL_NOT_IMPLEMENTED;
}
