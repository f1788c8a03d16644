// The drive layer: Windows paths ("C:\data\x.txt", "/" accepted as a separator too) resolved to
// host paths. By default C: is the user's home directory and Z: is the root directory.
#pragma once

#include <QString>

namespace drives {

// The host path a Windows path names; a relative path is taken from the current directory.
QString toHostPath(const QString& windowsPath);

} // namespace drives
