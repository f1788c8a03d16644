#include "Drives.h"

#include "Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace drives {
namespace {

struct Mapping {
    QString root;      // as mapped
    QString canonical; // with symbolic links resolved, as getcwd reports it
};

struct State {
    bool initialised = false;
    QMap<QChar, Mapping> drives;
    QMap<QChar, QString> lastDirectory;
};

State& state() {
    static State s;
    return s;
}

QString canonicalOf(const QString& dir) {
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(dir) : canonical;
}

bool isRemovableDevice(const QString& device) {
    if (!device.startsWith(QLatin1String("/dev/")))
        return false;
    const QString name = QFileInfo(device).canonicalFilePath().section(QLatin1Char('/'), -1);
    if (name.isEmpty())
        return false;
    // A partition's sysfs directory lies inside its disk's, which carries the flag.
    const QString sys = QStringLiteral("/sys/class/block/") + name;
    for (const QString& flag :
         {sys + QStringLiteral("/removable"), sys + QStringLiteral("/../removable")}) {
        QFile file(flag);
        if (file.open(QIODevice::ReadOnly))
            return file.readAll().trimmed() == "1";
    }
    return false;
}

QList<Volume> mountedVolumes() {
    QList<Volume> volumes;
    for (const QStorageInfo& info : QStorageInfo::mountedVolumes()) {
        if (!info.isValid())
            continue;
        const QString device = QString::fromUtf8(info.device());
        volumes.append({info.rootPath(), QString::fromUtf8(info.fileSystemType()), device,
                        isRemovableDevice(device)});
    }
    return volumes;
}

State& mapped() {
    State& s = state();
    if (!s.initialised) {
        s.initialised = true;
        for (const auto& [letter, dir] : defaultMapping(mountedVolumes(), QDir::homePath()))
            s.drives.insert(letter, {dir, canonicalOf(dir)});
    }
    return s;
}

QString hostPath(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

QByteArray bytes(const QString& host) {
    return QFile::encodeName(host);
}

bool isDriveLetter(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

bool hasWildcard(const QString& name) {
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
}

QString withBackslashes(QString path) {
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return path;
}

// A Windows path made absolute: its drive and its components, "." and ".." taken away as
// Windows does before it looks at the file system (".." at a root stays at the root).
struct Absolute {
    QChar drive;
    QStringList parts;
};

Absolute splitAbsolute(const QString& windowsPath) {
    Absolute result;
    QString rest = withBackslashes(windowsPath);
    QChar drive;
    if (rest.size() >= 2 && rest[1] == QLatin1Char(':') && isDriveLetter(rest[0])) {
        drive = rest[0].toUpper();
        rest = rest.mid(2);
    }
    const bool rooted = rest.startsWith(QLatin1Char('\\'));
    QString base;
    if (drive.isNull() && !rooted)
        base = currentDirectory();
    else if (drive.isNull())
        base = QString(currentDrive()) + QStringLiteral(":\\");
    else if (!rooted)
        base = driveCurrentDirectory(drive);
    else
        base = QString(drive) + QStringLiteral(":\\");

    result.drive = base[0].toUpper();
    QStringList parts = base.mid(3).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    parts += rest.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!result.parts.isEmpty())
                result.parts.removeLast();
            continue;
        }
        result.parts.append(part);
    }
    return result;
}

QString windowsOf(QChar drive, const QStringList& parts) {
    return QString(drive) + QStringLiteral(":\\") + parts.join(QLatin1Char('\\'));
}

// The entry of `dir` named `name` without regard to letter case; an exact match wins, then the
// first in name order, so that the answer does not depend on the order of the directory.
QString findEntry(const QString& dir, const QString& name, bool last) {
    struct stat st;
    const QString exact = dir + QLatin1Char('/') + name;
    if (::lstat(bytes(exact).constData(), &st) == 0)
        return name;
    if (errno != ENOENT)
        throw InOutError(errorCodeFromErrno(errno));
    DIR* d = ::opendir(bytes(dir).constData());
    if (!d)
        throw InOutError(errorCodeFromErrno(errno));
    QString found;
    while (dirent* entry = ::readdir(d)) {
        const QString candidate = hostPath(entry->d_name);
        if (candidate.compare(name, Qt::CaseInsensitive) == 0 &&
            (found.isEmpty() || candidate < found))
            found = candidate;
    }
    ::closedir(d);
    if (found.isEmpty())
        throw InOutError(last ? ErrorFileNotFound : ErrorPathNotFound);
    return found;
}

Resolved resolveAbsolute(const Absolute& path) {
    const QString root = driveRoot(path.drive);
    if (root.isEmpty())
        throw InOutError(ErrorPathNotFound);
    struct stat st;
    if (::stat(bytes(root).constData(), &st) != 0)
        throw InOutError(errno == ENOENT ? ErrorPathNotFound : errorCodeFromErrno(errno));
    Resolved result{root, QString()};
    QStringList spelled;
    for (int i = 0; i < path.parts.size(); ++i) {
        const bool last = i == path.parts.size() - 1;
        const QString name = findEntry(result.host, path.parts[i], last);
        result.host =
            (result.host == QLatin1String("/") ? QString() : result.host) + QLatin1Char('/') + name;
        spelled.append(name);
        if (!last) {
            if (::stat(bytes(result.host).constData(), &st) != 0)
                throw InOutError(errno == ENOENT ? ErrorPathNotFound : errorCodeFromErrno(errno));
            if (!S_ISDIR(st.st_mode))
                throw InOutError(ErrorPathNotFound);
        }
    }
    result.windows = windowsOf(path.drive, spelled);
    return result;
}

void enter(const QString& windowsPath) {
    const Resolved target = resolve(windowsPath);
    if (::chdir(bytes(target.host).constData()) != 0)
        throw InOutError(errorCodeFromErrno(errno));
}

// Puts the working directory back when it goes out of scope, even when the directory's name
// changed meanwhile.
class WorkingDirectoryGuard {
public:
    WorkingDirectoryGuard() : fd_(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
    ~WorkingDirectoryGuard() {
        if (fd_ >= 0) {
            if (::fchdir(fd_) != 0) {
                // Nothing sensible is left to do: the directory has gone.
            }
            ::close(fd_);
        }
    }
    WorkingDirectoryGuard(const WorkingDirectoryGuard&) = delete;
    WorkingDirectoryGuard& operator=(const WorkingDirectoryGuard&) = delete;

private:
    int fd_;
};

bool statOf(const QString& windowsPath, struct stat* st) {
    try {
        return ::stat(bytes(resolve(windowsPath).host).constData(), st) == 0;
    } catch (const InOutError&) {
        return false;
    }
}

template <typename Accept> QStringList listDirectory(const QString& windowsDir, Accept accept) {
    const Resolved dir = resolve(windowsDir);
    DIR* d = ::opendir(bytes(dir.host).constData());
    if (!d)
        throw InOutError(errorCodeFromErrno(errno));
    const int dirFd = ::dirfd(d);
    std::vector<std::pair<QString, QString>> keyed; // (folded name, name)
    while (dirent* entry = ::readdir(d)) {
        if (entry->d_name[0] == '.')
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_LNK || type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(dirFd, entry->d_name, &st, 0) != 0)
                continue; // a dangling link or a link loop names nothing
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        QString name = hostPath(entry->d_name);
        if (accept(type, name))
            keyed.emplace_back(name.toCaseFolded(), std::move(name));
    }
    ::closedir(d);
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second < b.second;
    });
    QStringList names;
    names.reserve(qsizetype(keyed.size()));
    for (auto& entry : keyed)
        names.append(std::move(entry.second));
    return names;
}

bool globMatch(const QChar* p, const QChar* pEnd, const QChar* n, const QChar* nEnd) {
    const QChar* starP = nullptr;
    const QChar* starN = nullptr;
    while (n != nEnd) {
        if (p != pEnd && (*p == QLatin1Char('?') || *p == *n)) {
            ++p;
            ++n;
        } else if (p != pEnd && *p == QLatin1Char('*')) {
            starP = p++;
            starN = n;
        } else if (starP) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p != pEnd && *p == QLatin1Char('*'))
        ++p;
    return p == pEnd;
}

bool foldedMatch(const QString& pattern, const QString& name) {
    return globMatch(pattern.constData(), pattern.constData() + pattern.size(), name.constData(),
                     name.constData() + name.size());
}

// Both texts already case-folded.
bool matchFolded(const QString& p, const QString& n) {
    if (foldedMatch(p, n))
        return true;
    if (p.endsWith(QLatin1String(".*")))
        return !n.contains(QLatin1Char('.')) && foldedMatch(p.chopped(2), n);
    if (p.endsWith(QLatin1Char('.')) && p.size() > 1)
        return !n.contains(QLatin1Char('.')) && foldedMatch(p.chopped(1), n);
    return false;
}

bool validName(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (QChar c : name)
        if (c.unicode() < 32 || QStringLiteral("<>:\"|?*").contains(c))
            return false;
    return true;
}

} // namespace

int errorCodeFromErrno(int error) {
    switch (error) {
    case 0:
        return 0;
    case ENOENT:
        return ErrorFileNotFound;
    case ENOTDIR:
        return ErrorPathNotFound;
    case EACCES:
    case EPERM:
        return ErrorAccessDenied;
    case EMFILE:
    case ENFILE:
        return 4; // too many open files
    case ENOMEM:
        return 8;
    case EXDEV:
        return 17;
    case EROFS:
        return 19; // write protected
    case ENOMEDIUM:
    case ENODEV:
    case ENXIO:
        return ErrorNotReady;
    case EEXIST:
        return ErrorAlreadyExists;
    case ENOTEMPTY:
        return 145;
    case ENOSPC:
        return 112;
    case EINVAL:
        return 87;
    case EBUSY:
        return 170;
    case ENAMETOOLONG:
        return 206;
    case ELOOP:
        return ErrorCantResolveFilename;
    case EIO:
        return 1117;
    case ENOTCONN:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ETIMEDOUT:
    case ESTALE:
        return 53; // the network path was not found
    default:
        return ErrorGenFailure;
    }
}

DriveType classifyVolume(const Volume& volume) {
    if (volume.rootPath.isEmpty())
        return DriveType::Unknown;
    const QString type = volume.fileSystemType.toLower();
    static const QStringList remote{QStringLiteral("nfs"),   QStringLiteral("nfs4"),
                                    QStringLiteral("cifs"),  QStringLiteral("smb3"),
                                    QStringLiteral("smbfs"), QStringLiteral("fuse.sshfs"),
                                    QStringLiteral("davfs"), QStringLiteral("afs"),
                                    QStringLiteral("9p"),    QStringLiteral("fuse.davfs2")};
    if (remote.contains(type))
        return DriveType::Remote;
    if (type == QLatin1String("iso9660") || type == QLatin1String("udf"))
        return DriveType::CDRom;
    if (type == QLatin1String("tmpfs") || type == QLatin1String("ramfs"))
        return DriveType::RamDisk;
    if (volume.removable || volume.rootPath.startsWith(QLatin1String("/media/")) ||
        volume.rootPath.startsWith(QLatin1String("/run/media/")))
        return DriveType::Removable;
    return DriveType::Fixed;
}

QList<QPair<QChar, QString>> defaultMapping(const QList<Volume>& volumes, const QString& home) {
    QList<QPair<QChar, QString>> mapping{{QLatin1Char('C'), home}};
    QStringList places;
    for (const Volume& volume : volumes) {
        const QString& root = volume.rootPath;
        const bool userVisible = root.startsWith(QLatin1String("/media/")) ||
                                 root.startsWith(QLatin1String("/run/media/")) ||
                                 root.startsWith(QLatin1String("/mnt/")) ||
                                 root == QLatin1String("/mnt");
        if (userVisible && root != home && classifyVolume(volume) != DriveType::Unknown &&
            !places.contains(root))
            places.append(root);
    }
    std::sort(places.begin(), places.end());
    char letter = 'D';
    for (const QString& place : places) {
        if (letter > 'Y')
            break;
        mapping.append({QLatin1Char(letter++), place});
    }
    mapping.append({QLatin1Char('Z'), QStringLiteral("/")});
    return mapping;
}

QList<QChar> driveLetters() {
    return mapped().drives.keys();
}

QString driveRoot(QChar letter) {
    return mapped().drives.value(letter.toUpper()).root;
}

void mapDrive(QChar letter, const QString& hostDir) {
    State& s = mapped();
    letter = letter.toUpper();
    s.lastDirectory.remove(letter);
    if (hostDir.isEmpty())
        s.drives.remove(letter);
    else
        s.drives.insert(letter, {QDir::cleanPath(hostDir), canonicalOf(hostDir)});
}

void resetMapping() {
    State& s = state();
    s.initialised = false;
    s.drives.clear();
    s.lastDirectory.clear();
}

DriveType driveType(QChar letter) {
    const QString root = driveRoot(letter);
    if (root.isEmpty() || !QFileInfo(root).isDir())
        return DriveType::Unknown;
    const QStorageInfo info(root);
    if (!info.isValid())
        return DriveType::Unknown;
    const QString device = QString::fromUtf8(info.device());
    return classifyVolume({info.rootPath(), QString::fromUtf8(info.fileSystemType()), device,
                           isRemovableDevice(device)});
}

QString volumeLabel(QChar letter) {
    const QString root = driveRoot(letter);
    return root.isEmpty() ? QString() : QStorageInfo(root).name();
}

QString networkName(QChar letter) {
    const QString root = driveRoot(letter);
    return root.isEmpty() ? QString() : QString::fromUtf8(QStorageInfo(root).device());
}

QString toHostPath(const QString& windowsPath) {
    QString path = windowsPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.size() >= 2 && path[1] == QLatin1Char(':') && isDriveLetter(path[0])) {
        const QChar drive = path[0].toUpper();
        QString root = driveRoot(drive);
        if (root.isEmpty())
            root = drive == QLatin1Char('C') ? QDir::homePath() : QStringLiteral("/");
        return QDir::cleanPath(root + QLatin1Char('/') + path.mid(2));
    }
    return QDir::current().absoluteFilePath(path);
}

Resolved resolve(const QString& windowsPath) {
    return resolveAbsolute(splitAbsolute(windowsPath));
}

QString toWindowsPath(const QString& hostPath) {
    const QString host = QDir::cleanPath(hostPath);
    QChar best;
    qsizetype bestLength = -1;
    QString rest;
    for (auto it = mapped().drives.cbegin(); it != mapped().drives.cend(); ++it) {
        for (const QString& root : {it->canonical, it->root}) {
            QString tail;
            if (root == QLatin1String("/"))
                tail = host.mid(1);
            else if (host == root)
                tail.clear();
            else if (host.startsWith(root + QLatin1Char('/')))
                tail = host.mid(root.size() + 1);
            else
                continue;
            if (root.size() > bestLength) {
                bestLength = root.size();
                best = it.key();
                rest = tail;
            }
        }
    }
    if (best.isNull()) {
        best = QLatin1Char('Z');
        rest = host.mid(1);
    }
    return QString(best) + QStringLiteral(":\\") + withBackslashes(rest);
}

QString currentDirectory() {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer))
        return toWindowsPath(hostPath(buffer));
    return QStringLiteral("C:\\");
}

QChar currentDrive() {
    return currentDirectory()[0];
}

void setCurrentDirectory(const QString& windowsPath) {
    enter(windowsPath);
    const QString now = currentDirectory();
    mapped().lastDirectory.insert(now[0], now);
}

QString driveCurrentDirectory(QChar letter) {
    letter = letter.toUpper();
    if (letter == currentDrive())
        return currentDirectory();
    const QString last = mapped().lastDirectory.value(letter);
    if (!last.isEmpty() && directoryExists(last))
        return last;
    return QString(letter) + QStringLiteral(":\\");
}

SplitPath processPath(const QString& text) {
    WorkingDirectoryGuard guard;
    QChar drive = currentDrive();
    QString body = text;
    if (body.size() >= 2 && body.startsWith(QLatin1Char('[')) && body.endsWith(QLatin1Char(']'))) {
        body = body.mid(1, body.size() - 2);
    } else if (body.size() >= 2 && body[1] == QLatin1Char(':') && isDriveLetter(body[0])) {
        drive = body[0].toUpper();
        body = body.mid(2);
    }
    body = withBackslashes(body);
    const qsizetype cut = body.lastIndexOf(QLatin1Char('\\'));
    SplitPath result;
    result.fileName = body.mid(cut + 1);
    const QString dir = cut < 0 ? QString() : cut == 0 ? QStringLiteral("\\") : body.left(cut);
    // "X:" alone names that drive's current directory.
    enter(QString(drive) + QLatin1Char(':') + dir);
    if (!result.fileName.isEmpty() && !hasWildcard(result.fileName) &&
        !fileExists(result.fileName)) {
        enter(result.fileName);
        result.fileName.clear();
    }
    result.directory = currentDirectory();
    result.drive = result.directory[0];
    return result;
}

bool fileExists(const QString& windowsPath) {
    struct stat st;
    return !windowsPath.isEmpty() && statOf(windowsPath, &st) && !S_ISDIR(st.st_mode);
}

bool directoryExists(const QString& windowsPath) {
    struct stat st;
    return !windowsPath.isEmpty() && statOf(windowsPath, &st) && S_ISDIR(st.st_mode);
}

bool createDirectory(const QString& windowsPath, int* code) {
    int dummy = 0;
    int& error = code ? *code : dummy;
    error = 0;
    try {
        Absolute path = splitAbsolute(windowsPath);
        if (path.parts.isEmpty()) {
            error = ErrorAlreadyExists; // a drive's root
            return false;
        }
        const QString name = path.parts.takeLast();
        if (!validName(name)) {
            error = ErrorInvalidName;
            return false;
        }
        const Resolved parent = resolveAbsolute(path);
        struct stat st;
        if (::stat(bytes(parent.host).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            error = ErrorPathNotFound;
            return false;
        }
        // Windows sees "Data" where "data" exists; so must we.
        try {
            findEntry(parent.host, name, true);
            error = ErrorAlreadyExists;
            return false;
        } catch (const InOutError& e) {
            if (e.code() != ErrorFileNotFound)
                throw;
        }
        const QString target =
            (parent.host == QLatin1String("/") ? QString() : parent.host) + QLatin1Char('/') + name;
        if (::mkdir(bytes(target).constData(), 0777) != 0) {
            error = errorCodeFromErrno(errno);
            return false;
        }
        return true;
    } catch (const InOutError& e) {
        error = e.code() == ErrorFileNotFound ? ErrorPathNotFound : e.code();
        return false;
    }
}

QStringList subdirectories(const QString& windowsDir) {
    return listDirectory(windowsDir,
                         [](unsigned char type, const QString&) { return type == DT_DIR; });
}

QStringList findFiles(const QString& windowsDir, const QString& patterns) {
    QStringList folded;
    bool all = false;
    for (const QString& pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString p = pattern.trimmed().toCaseFolded();
        if (p == QLatin1String("*") || p == QLatin1String("*.*"))
            all = true;
        else if (!p.isEmpty())
            folded.append(p);
    }
    return listDirectory(windowsDir, [&](unsigned char type, const QString& name) {
        if (type != DT_REG)
            return false;
        if (all)
            return true;
        const QString foldedName = name.toCaseFolded();
        for (const QString& p : folded)
            if (matchFolded(p, foldedName))
                return true;
        return false;
    });
}

bool matchesPattern(const QString& pattern, const QString& name) {
    return matchFolded(pattern.toCaseFolded(), name.toCaseFolded());
}

QString joinPath(const QString& directory, const QString& name) {
    if (directory.endsWith(QLatin1Char('\\')) || directory.isEmpty())
        return directory + name;
    return directory + QLatin1Char('\\') + name;
}

} // namespace drives
