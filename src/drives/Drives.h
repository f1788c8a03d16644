// The drive layer: drive letters mapped to host directories, and Windows paths ("C:\data\x.txt",
// "/" accepted as a separator too) resolved to host paths. C: is the user's home directory, Z: the
// root directory; the user's own drives (the [Drives] group of the drive configuration) and the
// mounted volumes a user would care about (removable media, network shares, optical discs, RAM
// disks under /media, /run/media and /mnt) take the letters between. A volume gets the first free
// letter the first time it is seen and keeps it: the assignment is stored in the [Volumes] group,
// keyed by its file-system UUID, else its label, else its mount point. The mapping is read again
// each time the drive letters are asked for, so volumes come and go while the program runs.
// Names are matched without regard to letter case, as Windows does, and reported as the file
// system spells them; a host name that a Windows path cannot hold is shown with private-use
// characters in place of the bytes it cannot hold (see fromHostName). Failures raise InOutError
// with the Windows error code.
#pragma once

#include <QChar>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace drives {

enum class DriveType { Unknown, Removable, Fixed, Remote, CDRom, RamDisk };

// Windows error codes the layer reports.
enum : int {
    ErrorFileNotFound = 2,
    ErrorPathNotFound = 3,
    ErrorAccessDenied = 5,
    ErrorNotReady = 21,
    ErrorGenFailure = 31,
    ErrorInvalidName = 123,
    ErrorAlreadyExists = 183,
    ErrorBufferOverflow = 111,
    ErrorCantResolveFilename = 1921,
};

// The Windows error code for a POSIX errno value.
int errorCodeFromErrno(int error);

// A mounted volume as the default mapping sees it.
struct Volume {
    QString rootPath;
    QString fileSystemType;
    QString device;
    bool removable = false; // the device says its medium can be taken out
};

// The drive type of a volume, from its file system and its device.
DriveType classifyVolume(const Volume& volume);

// The volumes under a user-visible mount place that get drive letters, in order of their path.
QList<Volume> userVolumes(const QList<Volume>& volumes, const QString& home);

// The drive letters: C: `home`, Z: the root, each user-given drive (letter, directory) its letter,
// and each present volume (identity, mount point) the letter `known` (letter, identity) holds for
// its identity, else the first letter from D: on that neither a user-given drive nor a known
// volume holds, which `known` then gains. A volume left without a letter is not mapped.
QList<QPair<QChar, QString>> assignLetters(const QList<QPair<QString, QString>>& present,
                                           const QMap<QChar, QString>& userDrives,
                                           QMap<QChar, QString>& known, const QString& home);

// What identifies a volume in the drive configuration: "uuid:..." or "label:..." read from its
// file system, "path:" and its mount point when it has neither.
QString volumeIdentity(const Volume& volume);

// The file holding the drive configuration (user-given drives, the letters of volumes seen
// before); by default "quorvane/drives.ini" in the user's configuration directory.
QString configFile();
void setConfigFile(const QString& path);

// Host names and Windows names, one to one. A host name is any sequence of bytes; its Windows
// name keeps each UTF-8 character except the ones a Windows name cannot hold: the bytes 1 to 31
// and \ : * ? " < > | become U+F000 plus the byte, and each byte outside a valid UTF-8 character
// becomes U+F100 plus the byte (as do the bytes of a character U+F000 to U+F1FF, so that these
// stay unambiguous). "/" is left alone: it separates the components of host paths.
QString fromHostName(const QByteArray& name);
QByteArray toHostName(const QString& name);

// The volume label read from the file system on `device` (a block device or an image file);
// empty when it has none or the device cannot be read.
QString fileSystemLabel(const QString& device);

// The drive letters mapped now, in letter order (upper case). Reads the machine's volumes and the
// drive configuration again, and stores the letters of volumes seen for the first time.
QList<QChar> driveLetters();
// The host directory drive `letter` is mapped to; empty when it is not mapped.
QString driveRoot(QChar letter);
// Maps `letter` to `hostDir` for this process, over the configuration (tests map drives of their
// own); an empty `hostDir` unmaps it.
void mapDrive(QChar letter, const QString& hostDir);
// Forgets everything this process mapped or remembered: the mapping is read afresh, as at start.
void resetMapping();

// Type, volume label and (for a network drive) the name of its connection, from the volume that
// holds the drive's directory. Unknown when the directory is missing.
DriveType driveType(QChar letter);
QString volumeLabel(QChar letter);
QString networkName(QChar letter);

// The host path a Windows path names, without looking at the file system; a relative path is
// taken from the current directory. The bytes are exact; the text form is for showing only.
// Empty for a path on a drive letter that is not mapped.
QByteArray toHostBytes(const QString& windowsPath);
QString toHostPath(const QString& windowsPath);

// A Windows path resolved against the file system: every component matched without regard to
// letter case and spelled as the file system has it.
struct Resolved {
    QString host;
    QString windows;
};
// Raises InOutError: 2 when the last component is missing, 3 when a directory on the way is
// missing or is no directory, or the drive is not mapped.
Resolved resolve(const QString& windowsPath);

// The Windows path of a host path, through the mapped drive whose directory holds it most
// closely; through Z: when no mapped directory holds it.
QString toWindowsPath(const QString& hostPath);

// The process's current working directory as a Windows path, and its drive (upper case). Raises
// InOutError when the directory cannot be read (it was removed: 2).
QString currentDirectory();
QChar currentDrive();
// Changes the process's working directory (chdir); raises InOutError. Each drive remembers its
// last current directory, as Windows does.
void setCurrentDirectory(const QString& windowsPath);
// The last current directory of `letter` ("X:\" when it has none or it has gone).
QString driveCurrentDirectory(QChar letter);

// A typed path split into drive, directory and last component: a text in square brackets stands
// for the text inside them; the last component joins the directory when it holds no "*" or "?"
// and is not an existing file. The directories are entered to prove them (raising InOutError when
// one cannot be), and the working directory is restored before the split returns.
struct SplitPath {
    QChar drive;
    QString directory; // as the system reports it
    QString fileName;  // empty, an existing file's name, or a pattern
};
SplitPath processPath(const QString& text);

bool fileExists(const QString& windowsPath);      // an existing file; a directory does not count
bool directoryExists(const QString& windowsPath); // an existing directory
// Creates one directory (its parent must exist); false with `code` set when it fails.
bool createDirectory(const QString& windowsPath, int* code = nullptr);

// The immediate subdirectories of a directory, without ".", ".." and hidden ones, sorted by name
// ignoring case. Raises InOutError when the directory cannot be read.
QStringList subdirectories(const QString& windowsDir);
// The files in a directory matching one of the ";"-separated patterns, without directories,
// hidden files (a leading ".") and system files (anything but regular files), sorted by name
// ignoring case. Raises InOutError when the directory cannot be read.
QStringList findFiles(const QString& windowsDir, const QString& patterns);
// True when `name` matches the wildcard pattern as Windows matches it: "*", "?", letter case
// ignored, and a trailing ".*" also matching names without an extension.
bool matchesPattern(const QString& pattern, const QString& name);

// Joins a directory and a name with exactly one backslash.
QString joinPath(const QString& directory, const QString& name);

} // namespace drives
