#include "Drives.h"

#include "Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QStandardPaths>
#include <QStorageInfo>

#include <blkid/blkid.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace drives {
namespace {

struct Mapping {
    QString root;      // as mapped, in the layer's form of host paths (see hostPath)
    QString canonical; // with symbolic links resolved, as getcwd reports it
};

struct State {
    bool initialised = false;
    QMap<QChar, Mapping> drives;
    QMap<QChar, QString> overrides; // this process's own mappings; an empty one unmaps
    QMap<QChar, QString> lastDirectory;
    QString configFile;
};

State& state() {
    static State s;
    return s;
}

// Host paths are kept as the Windows names of their bytes, "/" between the components, so that
// every host name survives the trip through QString.
QString hostPath(const QByteArray& bytes) {
    return fromHostName(bytes);
}

QByteArray bytes(const QString& host) {
    return toHostName(host);
}

// A host path as Qt spells it, in the layer's form.
QString fromQtPath(const QString& path) {
    return hostPath(QFile::encodeName(path));
}

QString toQtPath(const QString& host) {
    return QFile::decodeName(bytes(host));
}

QString canonicalOf(const QString& dir) {
    char buffer[PATH_MAX];
    if (::realpath(bytes(dir).constData(), buffer))
        return hostPath(buffer);
    return QDir::cleanPath(dir);
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

// udev writes the bytes of a name that a link name cannot hold as "\xHH".
QString unescapeUdev(const QString& name) {
    QByteArray raw = QFile::encodeName(name);
    QByteArray out;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        bool ok = false;
        if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x') {
            const int value = raw.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(raw[i]);
    }
    return QString::fromUtf8(out);
}

// The name udev's index gives the volume on `device` for `kind` ("by-uuid", "by-label"); empty
// when the index is missing or does not know it.
QString udevName(const QString& device, const char* kind) {
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return QString();
    QDir index(QStringLiteral("/dev/disk/") + QLatin1String(kind));
    for (const QFileInfo& link : index.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (link.canonicalFilePath() == target)
            return unescapeUdev(link.fileName());
    return QString();
}

enum class ProbeValue { Uuid, Label };

QString probe(const QString& device, ProbeValue which) {
    if (device.isEmpty() || !device.startsWith(QLatin1Char('/')))
        return QString();
    blkid_probe pr = blkid_new_probe_from_filename(QFile::encodeName(device).constData());
    if (!pr)
        return QString();
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID);
    QString value;
    const char* data = nullptr;
    if (blkid_do_safeprobe(pr) == 0 &&
        blkid_probe_lookup_value(pr, which == ProbeValue::Uuid ? "UUID" : "LABEL", &data,
                                 nullptr) == 0 &&
        data)
        value = QString::fromUtf8(data);
    blkid_free_probe(pr);
    return value;
}

// What the system knows of the volume on `device`: udev's index, then the file system itself,
// then the cache libblkid keeps of what it read earlier (for a device only root may read).
QString volumeValue(const QString& device, ProbeValue which) {
    if (!device.startsWith(QLatin1String("/dev/")))
        return QString();
    QString value = udevName(device, which == ProbeValue::Uuid ? "by-uuid" : "by-label");
    if (value.isEmpty())
        value = probe(device, which);
    if (value.isEmpty()) {
        blkid_cache cache = nullptr;
        if (blkid_get_cache(&cache, nullptr) == 0) {
            if (char* cached =
                    blkid_get_tag_value(cache, which == ProbeValue::Uuid ? "UUID" : "LABEL",
                                        QFile::encodeName(device).constData())) {
                value = QString::fromUtf8(cached);
                ::free(cached);
            }
            blkid_put_cache(cache);
        }
    }
    return value;
}

QMap<QChar, QString> readGroup(QSettings& settings, const QString& group) {
    QMap<QChar, QString> result;
    settings.beginGroup(group);
    for (const QString& key : settings.childKeys()) {
        if (key.size() != 1 || !key[0].isLetter() || key[0].unicode() > 127)
            continue;
        const QString value = settings.value(key).toString().trimmed();
        if (!value.isEmpty())
            result.insert(key[0].toUpper(), value);
    }
    settings.endGroup();
    return result;
}

// A user-given directory: "~" stands for the home directory.
QString expandHome(const QString& dir) {
    if (dir == QLatin1String("~"))
        return QDir::homePath();
    if (dir.startsWith(QLatin1String("~/")))
        return QDir::homePath() + dir.mid(1);
    return dir;
}

void refresh(State& s) {
    s.initialised = true;
    s.drives.clear();
    const QString home = QDir::homePath();
    QList<QPair<QString, QString>> present;
    for (const Volume& volume : userVolumes(mountedVolumes(), home))
        present.append({volumeIdentity(volume), volume.rootPath});

    QSettings settings(configFile(), QSettings::IniFormat);
    QMap<QChar, QString> userDrives;
    const QMap<QChar, QString> given = readGroup(settings, QStringLiteral("Drives"));
    for (auto it = given.cbegin(); it != given.cend(); ++it)
        userDrives.insert(it.key(), expandHome(it.value()));
    QMap<QChar, QString> known = readGroup(settings, QStringLiteral("Volumes"));
    const QMap<QChar, QString> before = known;
    const auto letters = assignLetters(present, userDrives, known, home);
    if (known != before) {
        settings.remove(QStringLiteral("Volumes"));
        for (auto it = known.cbegin(); it != known.cend(); ++it)
            settings.setValue(QStringLiteral("Volumes/") + it.key(), it.value());
        settings.sync();
    }
    for (const auto& [letter, dir] : letters) {
        const QString root = fromQtPath(dir);
        s.drives.insert(letter, {root, canonicalOf(root)});
    }
    for (auto it = s.overrides.cbegin(); it != s.overrides.cend(); ++it) {
        if (it.value().isEmpty())
            s.drives.remove(it.key());
        else
            s.drives.insert(it.key(), {it.value(), canonicalOf(it.value())});
    }
}

State& mapped() {
    State& s = state();
    if (!s.initialised)
        refresh(s);
    return s;
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

// The mapped directory of `letter`, in the layer's form; empty when it is not mapped.
QString rootOf(QChar letter) {
    return mapped().drives.value(letter.toUpper()).root;
}

// Resolved::host in the layer's form of host paths.
Resolved resolveAbsolute(const Absolute& path) {
    const QString root = rootOf(path.drive);
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

Resolved resolveHost(const QString& windowsPath) {
    return resolveAbsolute(splitAbsolute(windowsPath));
}

void enter(const QString& windowsPath) {
    const Resolved target = resolveHost(windowsPath);
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
        return ::stat(bytes(resolveHost(windowsPath).host).constData(), st) == 0;
    } catch (const InOutError&) {
        return false;
    }
}

template <typename Accept> QStringList listDirectory(const QString& windowsDir, Accept accept) {
    const Resolved dir = resolveHost(windowsDir);
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

QList<Volume> userVolumes(const QList<Volume>& volumes, const QString& home) {
    QList<Volume> result;
    QStringList places;
    for (const Volume& volume : volumes) {
        const QString& root = volume.rootPath;
        const bool userVisible = root.startsWith(QLatin1String("/media/")) ||
                                 root.startsWith(QLatin1String("/run/media/")) ||
                                 root.startsWith(QLatin1String("/mnt/")) ||
                                 root == QLatin1String("/mnt");
        if (userVisible && root != home && classifyVolume(volume) != DriveType::Unknown &&
            !places.contains(root)) {
            places.append(root);
            result.append(volume);
        }
    }
    std::sort(result.begin(), result.end(),
              [](const Volume& a, const Volume& b) { return a.rootPath < b.rootPath; });
    return result;
}

QString volumeIdentity(const Volume& volume) {
    const QString uuid = volumeValue(volume.device, ProbeValue::Uuid);
    if (!uuid.isEmpty())
        return QStringLiteral("uuid:") + uuid;
    const QString label = volumeValue(volume.device, ProbeValue::Label);
    if (!label.isEmpty())
        return QStringLiteral("label:") + label;
    return QStringLiteral("path:") + volume.rootPath;
}

QList<QPair<QChar, QString>> assignLetters(const QList<QPair<QString, QString>>& present,
                                           const QMap<QChar, QString>& userDrives,
                                           QMap<QChar, QString>& known, const QString& home) {
    QMap<QChar, QString> letters{{QLatin1Char('C'), home}, {QLatin1Char('Z'), QStringLiteral("/")}};
    for (auto it = userDrives.cbegin(); it != userDrives.cend(); ++it)
        if (!letters.contains(it.key()))
            letters.insert(it.key(), it.value());
    QStringList seen;
    for (const auto& [identity, root] : present) {
        if (seen.contains(identity))
            continue; // the same volume mounted a second time
        seen.append(identity);
        QChar letter = known.key(identity);
        if (letter.isNull() || letters.contains(letter)) {
            letter = QChar();
            for (char c = 'D'; c <= 'Y'; ++c) {
                if (!letters.contains(QLatin1Char(c)) && !known.contains(QLatin1Char(c))) {
                    letter = QLatin1Char(c);
                    break;
                }
            }
            if (letter.isNull())
                continue; // every letter is taken
            // A letter a user-given drive took over is given up for the new one.
            for (auto it = known.begin(); it != known.end();)
                it = it.value() == identity ? known.erase(it) : std::next(it);
            known.insert(letter, identity);
        }
        letters.insert(letter, root);
    }
    QList<QPair<QChar, QString>> result;
    for (auto it = letters.cbegin(); it != letters.cend(); ++it)
        result.append({it.key(), it.value()});
    return result;
}

QString configFile() {
    const State& s = state();
    if (!s.configFile.isEmpty())
        return s.configFile;
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.config");
    return dir + QStringLiteral("/quorvane/drives.ini");
}

void setConfigFile(const QString& path) {
    state().configFile = path;
    state().initialised = false;
}

namespace {

// The bytes that a Windows name cannot hold although they are valid UTF-8.
bool unfitByte(unsigned char c) {
    return (c >= 1 && c < 32) || std::strchr("\\:*?\"<>|", c) != nullptr;
}

constexpr char32_t EscapedByte = 0xF000; // + a byte of unfitByte
constexpr char32_t RawByte = 0xF100;     // + a byte outside a valid UTF-8 character
constexpr char32_t ReservedEnd = 0xF200;

// The length of the valid UTF-8 character at `p` (at most `left` bytes), 0 when there is none;
// overlong forms, surrogates and values beyond U+10FFFF are not valid.
int utf8Length(const unsigned char* p, qsizetype left, char32_t* value) {
    const unsigned char c = p[0];
    int length;
    char32_t cp;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        cp = c & 0x0F;
        if (c == 0xE0)
            low = 0xA0;
        else if (c == 0xED)
            high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        cp = c & 0x07;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        const unsigned char next = p[i];
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return 0;
        cp = (cp << 6) | (next & 0x3F);
    }
    *value = cp;
    return length;
}

} // namespace

QString fromHostName(const QByteArray& name) {
    QString result;
    result.reserve(name.size());
    const auto* p = reinterpret_cast<const unsigned char*>(name.constData());
    const qsizetype size = name.size();
    for (qsizetype i = 0; i < size;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            result.append(unfitByte(c) ? QChar(char16_t(EscapedByte + c)) : QChar(char16_t(c)));
            ++i;
            continue;
        }
        char32_t cp = 0;
        const int length = utf8Length(p + i, size - i, &cp);
        if (length > 0 && (cp < EscapedByte || cp >= ReservedEnd)) {
            result.append(QString::fromUcs4(&cp, 1));
            i += length;
            continue;
        }
        // Not UTF-8, or a character of the range the escapes use: byte by byte.
        for (int k = 0; k < std::max(length, 1); ++k)
            result.append(QChar(char16_t(RawByte + p[i + k])));
        i += std::max(length, 1);
    }
    return result;
}

QByteArray toHostName(const QString& name) {
    QByteArray result;
    result.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name[i].unicode();
        if (u >= EscapedByte && u < EscapedByte + 0x80 && unfitByte(u - EscapedByte)) {
            result.append(char(u - EscapedByte));
        } else if (u >= RawByte + 0x80 && u < RawByte + 0x100) {
            result.append(char(u - RawByte));
        } else if (u < 0x80) {
            result.append(char(u));
        } else {
            const qsizetype length =
                name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()
                    ? 2
                    : 1;
            result.append(name.mid(i, length).toUtf8());
            i += length - 1;
        }
    }
    return result;
}

QString fileSystemLabel(const QString& device) {
    return probe(device, ProbeValue::Label);
}

QList<QChar> driveLetters() {
    State& s = state();
    refresh(s);
    return s.drives.keys();
}

QString driveRoot(QChar letter) {
    return toQtPath(rootOf(letter));
}

void mapDrive(QChar letter, const QString& hostDir) {
    State& s = mapped();
    letter = letter.toUpper();
    s.lastDirectory.remove(letter);
    const QString root = hostDir.isEmpty() ? QString() : fromQtPath(QDir::cleanPath(hostDir));
    s.overrides.insert(letter, root);
    if (root.isEmpty())
        s.drives.remove(letter);
    else
        s.drives.insert(letter, {root, canonicalOf(root)});
}

void resetMapping() {
    State& s = state();
    s.initialised = false;
    s.drives.clear();
    s.overrides.clear();
    s.lastDirectory.clear();
}

DriveType driveType(QChar letter) {
    const QString host = rootOf(letter);
    struct stat st;
    if (host.isEmpty() || ::stat(bytes(host).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return DriveType::Unknown;
    const QString root = toQtPath(host);
    const QStorageInfo info(root);
    if (!info.isValid())
        return DriveType::Unknown;
    const QString device = QString::fromUtf8(info.device());
    return classifyVolume({info.rootPath(), QString::fromUtf8(info.fileSystemType()), device,
                           isRemovableDevice(device)});
}

QString volumeLabel(QChar letter) {
    const QString root = driveRoot(letter);
    if (root.isEmpty())
        return QString();
    const QStorageInfo info(root);
    if (!info.isValid())
        return QString();
    // QStorageInfo reads udev's label index, which a machine without udev lacks.
    const QString name = info.name();
    return name.isEmpty() ? volumeValue(QString::fromUtf8(info.device()), ProbeValue::Label) : name;
}

QString networkName(QChar letter) {
    const QString root = driveRoot(letter);
    return root.isEmpty() ? QString() : QString::fromUtf8(QStorageInfo(root).device());
}

QByteArray toHostBytes(const QString& windowsPath) {
    QString path = windowsPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.size() >= 2 && path[1] == QLatin1Char(':') && isDriveLetter(path[0])) {
        const QChar drive = path[0].toUpper();
        const QString root = rootOf(drive);
        if (root.isEmpty())
            return QByteArray(); // a drive that maps to nothing names no host path at all
        return bytes(QDir::cleanPath(root + QLatin1Char('/') + path.mid(2)));
    }
    if (path.startsWith(QLatin1Char('/')))
        return bytes(QDir::cleanPath(path));
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer))
        return bytes(path); // stays relative to the working directory, which no name reaches
    return bytes(QDir::cleanPath(hostPath(buffer) + QLatin1Char('/') + path));
}

QString toHostPath(const QString& windowsPath) {
    return QFile::decodeName(toHostBytes(windowsPath));
}

Resolved resolve(const QString& windowsPath) {
    Resolved result = resolveHost(windowsPath);
    result.host = toQtPath(result.host);
    return result;
}

namespace {

// The Windows path of a host path in the layer's form.
QString windowsOfHost(const QString& hostPath) {
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

// The working directory as a Windows path; empty with `error` set when it cannot be read.
QString workingDirectory(int* error) {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer))
        return windowsOfHost(hostPath(buffer));
    *error = errorCodeFromErrno(errno);
    return QString();
}

} // namespace

QString toWindowsPath(const QString& hostPath) {
    return windowsOfHost(fromQtPath(hostPath));
}

QString currentDirectory() {
    int error = 0;
    const QString dir = workingDirectory(&error);
    // A removed directory has no name any more; none is made up for it.
    if (dir.isEmpty())
        throw InOutError(error);
    return dir;
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
    int error = 0;
    const QString current = workingDirectory(&error);
    if (!current.isEmpty() && current[0] == letter)
        return current;
    const QString last = mapped().lastDirectory.value(letter);
    if (!last.isEmpty() && directoryExists(last))
        return last;
    return QString(letter) + QStringLiteral(":\\");
}

SplitPath processPath(const QString& text) {
    WorkingDirectoryGuard guard;
    QChar drive;
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
    enter(drive.isNull() ? (dir.isEmpty() ? QStringLiteral(".") : dir)
                         : QString(drive) + QLatin1Char(':') + dir);
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
