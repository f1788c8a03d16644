// The drive layer on a small tree mapped as drive T:.
#include "Drives.h"
#include "Error.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace drives;

namespace {

// Root ignores permission bits through CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH; taking them out
// of the thread's effective set lets the tests see the refusals an ordinary user sees.
class PermissionBitsApply {
public:
    PermissionBitsApply() {
        if (::geteuid() != 0) {
            ok_ = true;
            return;
        }
        header_ = {_LINUX_CAPABILITY_VERSION_3, 0};
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ok_ = ::syscall(SYS_capset, &header_, reduced) == 0;
        dropped_ = ok_;
    }
    ~PermissionBitsApply() {
        if (dropped_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    bool ok() const { return ok_; }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool ok_ = false;
    bool dropped_ = false;
};

void writeFile(const QString& path) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write("x");
}

} // namespace

class TestDrives : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tree_;
    QString root_;
    QString host(const QString& relative) const {
        return relative.isEmpty() ? root_ : root_ + QLatin1Char('/') + relative;
    }

private slots:
    void initTestCase() {
        QVERIFY(tree_.isValid());
        root_ = tree_.path();
        QDir dir(root_);
        for (const char* d : {"docs", "docs/sub1", "docs/Sub2", "docs/.hiddendir", "case",
                              "case/Dir", "case/dir", "資料", "locked", "readonly"})
            QVERIFY(dir.mkpath(QString::fromUtf8(d)));
        for (const char* f :
             {"root1.txt", "docs/a.txt", "docs/b.log", "docs/c.TXT", "docs/Readme.TXT",
              "docs/noext", "docs/.hidden", "case/a.txt", "case/A.txt", "資料/報告.txt"})
            writeFile(host(QString::fromUtf8(f)));
        QVERIFY(::mkfifo(QFile::encodeName(host("docs/pipe.txt")).constData(), 0600) == 0);
        QVERIFY(QFile::link(host("docs/a.txt"), host("docs/link.txt")));
        QVERIFY(QFile::link(host("docs/loop"), host("docs/loop")));
        QVERIFY(QFile::link(host("docs/nowhere"), host("docs/broken.txt")));
        QVERIFY(QFile::link(host("docs"), host("docs/up")));
        QVERIFY(::chmod(QFile::encodeName(host("locked")).constData(), 0) == 0);
        QVERIFY(::chmod(QFile::encodeName(host("readonly")).constData(), 0555) == 0);
        mapDrive(QLatin1Char('T'), root_);
    }

    void cleanupTestCase() {
        ::chmod(QFile::encodeName(host("locked")).constData(), 0700);
        ::chmod(QFile::encodeName(host("readonly")).constData(), 0700);
        QDir::setCurrent(QDir::tempPath());
    }

    void init() { setCurrentDirectory(QStringLiteral("T:\\docs")); }

    void resolvesComponentByComponent_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expectedHost"); // relative to the tree
        QTest::addColumn<QString>("expectedWindows");
        QTest::addColumn<int>("error");
        auto row = [](const char* name, const char* path, const char* host, const char* windows,
                      int error = 0) {
            QTest::newRow(name) << QString::fromUtf8(path) << QString::fromUtf8(host)
                                << QString::fromUtf8(windows) << error;
        };
        row("absolute", "T:\\docs\\a.txt", "docs/a.txt", "T:\\docs\\a.txt");
        row("case and slashes", "t:/DOCS/A.TXT", "docs/a.txt", "T:\\docs\\a.txt");
        row("dot dot", "T:\\docs\\sub1\\..\\b.log", "docs/b.log", "T:\\docs\\b.log");
        row("dot dot at the root", "T:\\..\\docs", "docs", "T:\\docs");
        row("root", "T:\\", "", "T:\\");
        row("chinese", "T:\\資料\\報告.TXT", "資料/報告.txt", "T:\\資料\\報告.txt");
        row("exact case wins", "T:\\case\\a.txt", "case/a.txt", "T:\\case\\a.txt");
        row("exact case wins too", "T:\\case\\A.txt", "case/A.txt", "T:\\case\\A.txt");
        row("loose case picks in name order", "T:\\CASE\\a.TXT", "case/A.txt", "T:\\case\\A.txt");
        row("relative", "b.log", "docs/b.log", "T:\\docs\\b.log");
        row("current drive root", "\\docs\\sub1", "docs/sub1", "T:\\docs\\sub1");
        row("drive relative", "T:SUB2", "docs/Sub2", "T:\\docs\\Sub2");
        row("relative up", "..\\資料", "資料", "T:\\資料");
        row("missing last", "T:\\nope", "", "", 2);
        row("missing on the way", "T:\\nope\\x", "", "", 3);
        row("file on the way", "T:\\docs\\a.txt\\x", "", "", 3);
        row("drive not mapped", "Q:\\x", "", "", 3);
    }

    void resolvesComponentByComponent() {
        QFETCH(QString, path);
        QFETCH(QString, expectedHost);
        QFETCH(QString, expectedWindows);
        QFETCH(int, error);
        try {
            const Resolved resolved = resolve(path);
            QCOMPARE(error, 0);
            QCOMPARE(resolved.host, host(expectedHost));
            QCOMPARE(resolved.windows, expectedWindows);
        } catch (const InOutError& e) {
            QCOMPARE(e.code(), error);
        }
    }

    void workingDirectoryIsTheRealOne() {
        setCurrentDirectory(QStringLiteral("t:\\DOCS\\sub1"));
        QCOMPARE(QDir::currentPath(), host("docs/sub1"));
        QCOMPARE(currentDirectory(), QStringLiteral("T:\\docs\\sub1"));
        QCOMPARE(currentDrive(), QLatin1Char('T'));

        // Through a link the system reports the directory it leads to.
        setCurrentDirectory(QStringLiteral("T:\\docs\\up\\sub1"));
        QCOMPARE(currentDirectory(), QStringLiteral("T:\\docs\\sub1"));

        // Each drive keeps its own current directory.
        mapDrive(QLatin1Char('U'), host("case"));
        setCurrentDirectory(QStringLiteral("U:\\dir"));
        QCOMPARE(currentDirectory(), QStringLiteral("U:\\dir"));
        QCOMPARE(driveCurrentDirectory(QLatin1Char('t')), QStringLiteral("T:\\docs\\sub1"));
        QCOMPARE(resolve(QStringLiteral("T:..\\b.log")).host, host("docs/b.log"));
        mapDrive(QLatin1Char('U'), QString());
        QCOMPARE(driveCurrentDirectory(QLatin1Char('U')), QStringLiteral("U:\\"));

        QVERIFY_THROWS_EXCEPTION(InOutError, setCurrentDirectory(QStringLiteral("T:\\nope")));
        QCOMPARE(QDir::currentPath(), host("case/dir"));
    }

    void windowsPathOfHostPath() {
        // The most closely holding drive wins; outside every mapping Z: stands for the root.
        mapDrive(QLatin1Char('U'), host("docs"));
        QCOMPARE(toWindowsPath(host("docs/sub1")), QStringLiteral("U:\\sub1"));
        QCOMPARE(toWindowsPath(host("")), QStringLiteral("T:\\"));
        mapDrive(QLatin1Char('U'), QString());
        const QString z = driveRoot(QLatin1Char('Z'));
        mapDrive(QLatin1Char('Z'), QString());
        QCOMPARE(toWindowsPath(QStringLiteral("/etc/x")), QStringLiteral("Z:\\etc\\x"));
        mapDrive(QLatin1Char('Z'), z.isEmpty() ? QStringLiteral("/") : z);
        QCOMPARE(toWindowsPath(QStringLiteral("/etc/x")), QStringLiteral("Z:\\etc\\x"));
    }

    void errnoToWindowsCode_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing") << ENOENT << 2 << "File not found";
        QTest::newRow("not a directory") << ENOTDIR << 3 << "Invalid filename";
        QTest::newRow("no permission") << EACCES << 5 << "File access denied";
        QTest::newRow("not permitted") << EPERM << 5 << "File access denied";
        QTest::newRow("link loop") << ELOOP << 1921 << "I/O error 1921";
        QTest::newRow("no medium") << ENOMEDIUM << 21 << "I/O error 21";
        QTest::newRow("network gone") << ESTALE << 53 << "I/O error 53";
        QTest::newRow("anything else") << EPROTO << 31 << "I/O error 31";
    }

    void errnoToWindowsCode() {
        QFETCH(int, error);
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(errorCodeFromErrno(error), code);
        QCOMPARE(InOutError(code).message(), text);
    }

    void permissionDenied() {
        PermissionBitsApply guard;
        if (!guard.ok())
            QSKIP("cannot give up the capabilities that override permission bits");
        try {
            setCurrentDirectory(QStringLiteral("T:\\locked"));
            QFAIL("entered a directory without permission");
        } catch (const InOutError& e) {
            QCOMPARE(e.code(), 5);
        }
        try {
            resolve(QStringLiteral("T:\\locked\\x"));
            QFAIL("looked into a directory without permission");
        } catch (const InOutError& e) {
            QCOMPARE(e.code(), 5);
        }
        int code = 0;
        QVERIFY(!createDirectory(QStringLiteral("T:\\readonly\\new"), &code));
        QCOMPARE(code, 5);
        QCOMPARE(currentDirectory(), QStringLiteral("T:\\docs"));
    }

    void linkLoop() {
        QVERIFY(!directoryExists(QStringLiteral("T:\\docs\\loop")));
        QVERIFY(!fileExists(QStringLiteral("T:\\docs\\loop")));
        try {
            setCurrentDirectory(QStringLiteral("T:\\docs\\loop"));
            QFAIL("entered a link loop");
        } catch (const InOutError& e) {
            QCOMPARE(e.code(), 1921);
        }
        QCOMPARE(currentDirectory(), QStringLiteral("T:\\docs"));
    }

    void subdirectoriesLeaveOutHiddenAndBroken() {
        QCOMPARE(subdirectories(QStringLiteral("T:\\docs")), QStringList({"sub1", "Sub2", "up"}));
        QCOMPARE(subdirectories(QStringLiteral("T:\\case")), QStringList({"Dir", "dir"}));
        QVERIFY_THROWS_EXCEPTION(InOutError, subdirectories(QStringLiteral("T:\\nope")));
    }

    void findFilesByPattern_data() {
        QTest::addColumn<QString>("patterns");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all") << "*.*" << QStringList{"a.txt",    "b.log", "c.TXT",
                                                     "link.txt", "noext", "Readme.TXT"};
        QTest::newRow("extension any case")
            << "*.txt" << QStringList{"a.txt", "c.TXT", "link.txt", "Readme.TXT"};
        QTest::newRow("several") << "*.log; r*" << QStringList{"b.log", "Readme.TXT"};
        QTest::newRow("one character") << "?.LOG" << QStringList{"b.log"};
        QTest::newRow("no extension") << "*." << QStringList{"noext"};
        QTest::newRow("optional extension") << "noext.*" << QStringList{"noext"};
        QTest::newRow("one name") << "A.TXT" << QStringList{"a.txt"};
        QTest::newRow("none") << "" << QStringList{};
    }

    void findFilesByPattern() {
        QFETCH(QString, patterns);
        QFETCH(QStringList, expected);
        QCOMPARE(findFiles(QStringLiteral("T:\\docs"), patterns), expected);
    }

    void findFilesDifferingInCase() {
        QCOMPARE(findFiles(QStringLiteral("T:\\case"), QStringLiteral("*.*")),
                 QStringList({"A.txt", "a.txt"}));
        QCOMPARE(findFiles(QStringLiteral("T:\\資料"), QStringLiteral("*.txt")),
                 QStringList({QString::fromUtf8("報告.txt")}));
    }

    void createsOneLevel_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("created"); // relative to the tree
        QTest::newRow("new") << "T:\\docs\\new" << 0 << "docs/new";
        QTest::newRow("relative chinese") << "新資料" << 0 << "docs/新資料";
        QTest::newRow("file of that name") << "T:\\docs\\a.txt" << 183 << "";
        QTest::newRow("file in other case") << "T:\\docs\\A.TXT" << 183 << "";
        QTest::newRow("directory in other case") << "T:\\DOCS\\SUB1" << 183 << "";
        QTest::newRow("missing parent") << "T:\\nope\\new" << 3 << "";
        QTest::newRow("invalid name") << "T:\\docs\\bad*name" << 123 << "";
        QTest::newRow("root") << "T:\\" << 183 << "";
    }

    void createsOneLevel() {
        QFETCH(QString, path);
        QFETCH(int, code);
        QFETCH(QString, created);
        int error = -1;
        QCOMPARE(createDirectory(path, &error), code == 0);
        QCOMPARE(error, code);
        if (!created.isEmpty()) {
            QVERIFY(QFileInfo(host(created)).isDir());
            QVERIFY(directoryExists(path));
            QVERIFY(QDir(host(created)).removeRecursively());
        }
    }

    void processPathSplitsAndRestores_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("error");
        auto row = [](const char* name, const char* text, const char* dir, const char* file,
                      int error = 0) {
            QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(dir)
                                << QString::fromUtf8(file) << error;
        };
        row("pattern", "*.txt", "T:\\docs", "*.txt");
        row("file", "t:\\DOCS\\a.txt", "T:\\docs", "a.txt");
        row("directory as last", "T:\\docs\\SUB1", "T:\\docs\\sub1", "");
        row("trailing separator", "T:\\docs\\sub1\\", "T:\\docs\\sub1", "");
        row("brackets", "[sub1]", "T:\\docs\\sub1", "");
        row("drive alone", "T:", "T:\\docs", "");
        row("up", "..", "T:\\", "");
        row("chinese", "T:\\資料\\報告.txt", "T:\\資料", "報告.txt");
        row("pattern elsewhere", "\\case\\*.txt", "T:\\case", "*.txt");
        row("missing directory", "T:\\nope\\x.txt", "", "", 2);
        row("missing last", "T:\\docs\\nope", "", "", 2);
        row("other drive not mapped", "Q:\\x", "", "", 3);
    }

    void processPathSplitsAndRestores() {
        QFETCH(QString, text);
        QFETCH(QString, directory);
        QFETCH(QString, fileName);
        QFETCH(int, error);
        try {
            const SplitPath split = processPath(text);
            QCOMPARE(error, 0);
            QCOMPARE(split.directory, directory);
            QCOMPARE(split.drive, directory[0]);
            QCOMPARE(split.fileName, fileName);
        } catch (const InOutError& e) {
            QCOMPARE(e.code(), error);
        }
        QCOMPARE(QDir::currentPath(), host("docs"));
    }

    void classifiesVolumes_data() {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("removable");
        QTest::addColumn<int>("expected");
        QTest::newRow("network") << "/mnt/share"
                                 << "nfs4" << false << int(DriveType::Remote);
        QTest::newRow("samba") << "/media/s"
                               << "cifs" << false << int(DriveType::Remote);
        QTest::newRow("optical") << "/media/u/CD"
                                 << "iso9660" << true << int(DriveType::CDRom);
        QTest::newRow("ram") << "/mnt/ram"
                             << "tmpfs" << false << int(DriveType::RamDisk);
        QTest::newRow("stick") << "/mnt/usb"
                               << "vfat" << true << int(DriveType::Removable);
        QTest::newRow("under media") << "/run/media/u/X"
                                     << "ext4" << false << int(DriveType::Removable);
        QTest::newRow("disk") << "/mnt/data"
                              << "ext4" << false << int(DriveType::Fixed);
        QTest::newRow("nothing") << ""
                                 << "ext4" << false << int(DriveType::Unknown);
    }

    void classifiesVolumes() {
        QFETCH(QString, root);
        QFETCH(QString, type);
        QFETCH(bool, removable);
        QFETCH(int, expected);
        QCOMPARE(int(classifyVolume({root, type, QStringLiteral("/dev/x"), removable})), expected);
    }

    void userVolumesUnderUserPlaces() {
        const QList<Volume> volumes{
            {"/", "ext4", "/dev/sda1", false},
            {"/boot/efi", "vfat", "/dev/sda2", false},
            {"/run/user/1000", "tmpfs", "tmpfs", false},
            {"/mnt/share", "nfs4", "srv:/export", false},
            {"/media/u/STICK", "vfat", "/dev/sdb1", true},
            {"/media/u/STICK", "vfat", "/dev/sdb1", true},
        };
        QStringList roots;
        for (const Volume& volume : userVolumes(volumes, QStringLiteral("/home/u")))
            roots.append(volume.rootPath);
        QCOMPARE(roots, QStringList({"/media/u/STICK", "/mnt/share"}));
    }

    void lettersStayWithTheirVolumes_data() {
        using Letters = QMap<QChar, QString>;
        QTest::addColumn<QStringList>("present"); // identity=mount point
        QTest::addColumn<Letters>("given");
        QTest::addColumn<Letters>("known");
        QTest::addColumn<Letters>("expected"); // letters other than C: and Z:
        QTest::addColumn<Letters>("knownAfter");
        QTest::newRow("first sight, in path order")
            << QStringList{"path:/media/a=/media/a", "uuid:1=/media/b"} << Letters{} << Letters{}
            << Letters{{'D', "/media/a"}, {'E', "/media/b"}}
            << Letters{{'D', "path:/media/a"}, {'E', "uuid:1"}};
        QTest::newRow("a new volume does not shift the known ones")
            << QStringList{"uuid:new=/media/a", "uuid:1=/media/b"} << Letters{}
            << Letters{{'D', "uuid:1"}} << Letters{{'D', "/media/b"}, {'E', "/media/a"}}
            << Letters{{'D', "uuid:1"}, {'E', "uuid:new"}};
        QTest::newRow("an absent volume keeps its letter reserved")
            << QStringList{"uuid:2=/media/x"} << Letters{} << Letters{{'D', "uuid:1"}}
            << Letters{{'E', "/media/x"}} << Letters{{'D', "uuid:1"}, {'E', "uuid:2"}};
        QTest::newRow("user-given letters come first")
            << QStringList{"uuid:1=/media/b"} << Letters{{'D', "/home/u/data"}}
            << Letters{{'D', "uuid:1"}} << Letters{{'D', "/home/u/data"}, {'E', "/media/b"}}
            << Letters{{'E', "uuid:1"}};
        QTest::newRow("C and Z cannot be given")
            << QStringList{} << Letters{{'C', "/tmp"}, {'Z', "/tmp"}} << Letters{} << Letters{}
            << Letters{};
        QTest::newRow("one volume mounted twice, one letter")
            << QStringList{"uuid:1=/media/a", "uuid:1=/mnt/a"} << Letters{} << Letters{}
            << Letters{{'D', "/media/a"}} << Letters{{'D', "uuid:1"}};
    }

    void lettersStayWithTheirVolumes() {
        using Letters = QMap<QChar, QString>;
        QFETCH(QStringList, present);
        QFETCH(Letters, given);
        QFETCH(Letters, known);
        QFETCH(Letters, expected);
        QFETCH(Letters, knownAfter);
        QList<QPair<QString, QString>> volumes;
        for (const QString& entry : present)
            volumes.append({entry.section('=', 0, 0), entry.section('=', 1)});
        Letters got;
        for (const auto& [letter, dir] : assignLetters(volumes, given, known, "/home/u"))
            got.insert(letter, dir);
        QCOMPARE(got.take('C'), QStringLiteral("/home/u"));
        QCOMPARE(got.take('Z'), QStringLiteral("/"));
        QCOMPARE(got, expected);
        QCOMPARE(known, knownAfter);
    }

    void userGivenDrivesFromTheConfiguration() {
        QTemporaryDir data;
        {
            QSettings config(configFile(), QSettings::IniFormat);
            config.setValue("Drives/d", data.path());
            config.setValue("Drives/Y", QStringLiteral("~"));
        }
        const QList<QChar> letters = driveLetters();
        QVERIFY(letters.contains('D') && letters.contains('Y'));
        QCOMPARE(driveRoot('D'), data.path());
        QCOMPARE(driveRoot('Y'), QDir::homePath());
        writeFile(data.path() + "/given.txt");
        QVERIFY(fileExists(QStringLiteral("d:\\GIVEN.txt")));
        QSettings(configFile(), QSettings::IniFormat).remove("Drives");
        driveLetters();
        QVERIFY(driveRoot('D') != data.path());
    }

    // Every byte sequence a host name can be: what the listing shows goes back to those bytes.
    void hostNamesRoundTrip_data() {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QString>("windows");
        QTest::newRow("plain") << QByteArray("a.txt") << QStringLiteral("a.txt");
        QTest::newRow("backslash") << QByteArray("back\\slash") << u"back\uF05Cslash"_qs;
        QTest::newRow("forbidden")
            << QByteArray("*?:\"<>|") << u"\uF02A\uF03F\uF03A\uF022\uF03C\uF03E\uF07C"_qs;
        QTest::newRow("controls") << QByteArray("a\nb\tc\x01") << u"a\uF00Ab\uF009c\uF001"_qs;
        QTest::newRow("latin-1 byte") << QByteArray("a\xfe") << u"a\uF1FE"_qs;
        QTest::newRow("other latin-1 byte") << QByteArray("a\xff") << u"a\uF1FF"_qs;
        QTest::newRow("chinese") << QByteArray("中文") << QStringLiteral("中文");
        QTest::newRow("overlong") << QByteArray("\xc0\xaf") << u"\uF1C0\uF1AF"_qs;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << u"\uF1ED\uF1A0\uF180"_qs;
        QTest::newRow("cut short") << QByteArray("\xe4\xb8") << u"\uF1E4\uF1B8"_qs;
        QTest::newRow("beyond unicode")
            << QByteArray("\xf4\x90\x80\x80") << u"\uF1F4\uF190\uF180\uF180"_qs;
        QTest::newRow("emoji") << QByteArray("\xf0\x9f\x98\x80") << u"\U0001F600"_qs;
        QTest::newRow("an escape itself") << QByteArray("\xef\x81\x9c") << u"\uF1EF\uF181\uF19C"_qs;
    }

    void hostNamesRoundTrip() {
        QFETCH(QByteArray, host);
        QFETCH(QString, windows);
        QCOMPARE(fromHostName(host), windows);
        QCOMPARE(toHostName(windows), host);
    }

    void everySingleByteNameIsItsOwn() {
        QSet<QString> seen;
        for (int c = 1; c < 256; ++c) {
            if (c == '/')
                continue;
            const QByteArray name(1, char(c));
            const QString windows = fromHostName(name);
            QCOMPARE(toHostName(windows), name);
            QVERIFY(!seen.contains(windows));
            seen.insert(windows);
            for (QChar forbidden : QStringLiteral("\\/:*?\"<>|"))
                QVERIFY(!windows.contains(forbidden));
        }
    }

    // Real files with such names: listed, resolved, and the same file as the one created.
    void hostNamesOnDisk() {
        const QByteArray dir = QFile::encodeName(host("names"));
        QVERIFY(::mkdir(dir.constData(), 0700) == 0 || errno == EEXIST);
        const QList<QByteArray> names{"back\\slash", "st*r",  "q?",   "co:lon",   "line\nfeed",
                                      "a\xfe",       "a\xff", "中文", "tab\there"};
        QHash<QString, ino_t> inodes;
        for (const QByteArray& name : names) {
            const QByteArray path = dir + '/' + name;
            const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0600);
            QVERIFY2(fd >= 0, path.constData());
            ::close(fd);
            struct stat st;
            QVERIFY(::stat(path.constData(), &st) == 0);
            inodes.insert(fromHostName(name), st.st_ino);
        }
        const QStringList listed = findFiles(QStringLiteral("T:\\names"), QStringLiteral("*.*"));
        QCOMPARE(QSet<QString>(listed.begin(), listed.end()),
                 QSet<QString>(inodes.keyBegin(), inodes.keyEnd()));
        for (const QString& name : listed) {
            const QString windows = joinPath(QStringLiteral("T:\\names"), name);
            QVERIFY(fileExists(windows));
            QCOMPARE(resolve(windows).windows, windows);
            struct stat st;
            QVERIFY(::stat(toHostBytes(windows).constData(), &st) == 0);
            QCOMPARE(st.st_ino, inodes.value(name));
        }
        // Typed with a star, the name is a pattern and matches the name with the star.
        QCOMPARE(findFiles(QStringLiteral("T:\\names"), QStringLiteral("st*")),
                 QStringList{u"st\uF02Ar"_qs});
        // QTemporaryDir cannot remove names that are not UTF-8.
        for (const QByteArray& name : names)
            ::unlink((dir + '/' + name).constData());
    }

    void directoriesWithUnfitNamesCanBeEntered() {
        const QByteArray dir = QFile::encodeName(host("names/d*ir\\x"));
        QVERIFY(::mkdir(QFile::encodeName(host("names")).constData(), 0700) == 0 ||
                errno == EEXIST);
        QVERIFY(::mkdir(dir.constData(), 0700) == 0);
        const QString windows = u"T:\\names\\d\uF02Air\uF05Cx"_qs;
        QVERIFY(subdirectories(QStringLiteral("T:\\names")).contains(windows.mid(9)));
        setCurrentDirectory(windows);
        QCOMPARE(currentDirectory(), windows);
        QCOMPARE(QFile::encodeName(QDir::currentPath()), dir);
        QCOMPARE(processPath(windows).directory, windows);
        ::rmdir(dir.constData());
    }

    void aRemovedWorkingDirectoryHasNoName() {
        QVERIFY(QDir(root_).mkpath("doomed"));
        setCurrentDirectory(QStringLiteral("T:\\doomed"));
        QVERIFY(QDir(root_).rmdir("doomed"));
        try {
            currentDirectory();
            QFAIL("a removed directory was given a name");
        } catch (const InOutError& e) {
            QCOMPARE(e.code(), int(ErrorFileNotFound));
        }
        try {
            processPath(QStringLiteral("*.txt"));
            QFAIL("a pattern in a removed directory was taken elsewhere");
        } catch (const InOutError& e) {
            QCOMPARE(e.code(), int(ErrorFileNotFound));
        }
        // A path with its own drive still works, and the drive's directory falls back to its root.
        QCOMPARE(processPath(QStringLiteral("T:\\docs\\*.txt")).directory,
                 QStringLiteral("T:\\docs"));
        QCOMPARE(driveCurrentDirectory('T'), QStringLiteral("T:\\"));
    }

    void labelsReadFromTheFileSystem() {
        if (QStandardPaths::findExecutable("mkfs.ext4", {"/sbin", "/usr/sbin"}).isEmpty() &&
            QStandardPaths::findExecutable("mkfs.ext4").isEmpty())
            QSKIP("mkfs.ext4 (e2fsprogs) is not installed");
        QTemporaryDir dir;
        const QString image = dir.path() + "/disk.img";
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(8 << 20));
        file.close();
        QCOMPARE(fileSystemLabel(image), QString()); // no file system yet
        QProcess mkfs;
        mkfs.start("/bin/sh",
                   {"-c", "PATH=$PATH:/sbin:/usr/sbin mkfs.ext4 -q -F -L MyDisk \"$0\"", image});
        QVERIFY(mkfs.waitForFinished(60000));
        QCOMPARE(mkfs.exitCode(), 0);
        QCOMPARE(fileSystemLabel(image), QStringLiteral("MyDisk"));
        QCOMPARE(fileSystemLabel(dir.path() + "/missing.img"), QString());
    }

    void driveOfAMappedDirectory() {
        QVERIFY(driveLetters().contains(QLatin1Char('T')));
        QVERIFY(driveType(QLatin1Char('T')) != DriveType::Unknown);
        mapDrive(QLatin1Char('U'), host("gone"));
        QCOMPARE(driveType(QLatin1Char('U')), DriveType::Unknown);
        mapDrive(QLatin1Char('U'), QString());
        QVERIFY(!driveLetters().contains(QLatin1Char('U')));
    }
};

QUORVANE_TEST_MAIN(TestDrives)
#include "tst_drives.moc"
