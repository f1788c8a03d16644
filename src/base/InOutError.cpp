#include "Error.h"

namespace {

QString inOutText(int code) {
    switch (code) {
    case 2:
        return QStringLiteral("File not found");
    case 3:
        return QStringLiteral("Invalid filename");
    case 5:
        return QStringLiteral("File access denied");
    default:
        return QStringLiteral("I/O error %1").arg(code);
    }
}

} // namespace

InOutError::InOutError(int code) : Error(inOutText(code)), code_(code) {}
