// Volumes mounted and unmounted while the program runs, in a private mount namespace: the drive
// list shows what is mounted at each opening, and each volume keeps its letter, across restarts
// and wherever it is mounted.
#include "Drives.h"
#include "FileControls.h"
#include "TestMain.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace drives;

namespace {

const char* const ChildConfig = "QUORVANE_TEST_DRIVES_CONFIG";

// The letter `root` is mapped to now, read as a drive list reads it.
QChar letterOf(const QString& root) {
    for (QChar letter : driveLetters())
        if (driveRoot(letter) == root)
            return letter;
    return QChar();
}

bool mountTmpfs(const QString& dir) {
    return QDir().mkpath(dir) &&
           ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=1m") == 0;
}

} // namespace

class TestVolumes : public QObject {
    Q_OBJECT

    bool child_ = false;

    // The letters the program sees when it starts again with the same configuration.
    QMap<QChar, QString> lettersAfterRestart() {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(ChildConfig), configFile());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("printLetters")});
        QMap<QChar, QString> letters;
        if (!child.waitForFinished(60000) || child.exitCode() != 0)
            return letters;
        for (const QByteArray& line : child.readAllStandardOutput().split('\n'))
            if (line.startsWith("DRIVE ") && line.size() > 8 && line[7] == '=')
                letters.insert(QLatin1Char(line[6]), QString::fromUtf8(line.mid(8)));
        return letters;
    }

private slots:
    void initTestCase() {
        child_ = qEnvironmentVariableIsSet(ChildConfig);
        if (child_)
            return; // already inside the namespace of the run that started it
        if (::geteuid() != 0)
            QSKIP("mounting volumes needs root; CI runs the tests as root");
        if (::unshare(CLONE_NEWNS) != 0)
            QSKIP(qPrintable(QStringLiteral("no private mount namespace (unshare: %1)")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)))));
        // Nothing mounted here reaches the machine, and /media and /mnt start empty.
        QVERIFY(::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0);
        QVERIFY(mountTmpfs(QStringLiteral("/media")));
        QVERIFY(mountTmpfs(QStringLiteral("/mnt")));
    }

    void volumesKeepTheirLetters() {
        if (child_)
            QSKIP("the restarted program only prints its letters");
        const QString b = QStringLiteral("/media/stick-b");
        const QString a = QStringLiteral("/media/stick-a");
        QVERIFY(mountTmpfs(b));

        TDriveComboBox picker; // as the next picker opens
        const QChar letterB = letterOf(b);
        QVERIFY(!letterB.isNull());
        QVERIFY(picker.findData(QVariant(letterB)) >= 0);

        // One more volume, sorting before the first, while the list is open.
        QVERIFY(mountTmpfs(a));
        picker.showPopup();
        const QChar letterA = letterOf(a);
        QVERIFY(!letterA.isNull());
        QVERIFY(letterA != letterB);
        QCOMPARE(letterOf(b), letterB);
        QVERIFY(picker.findData(QVariant(letterA)) >= 0);
        QVERIFY(picker.findData(QVariant(letterB)) >= 0);
        picker.hidePopup();

        // Started again, the program finds both where they were.
        const QMap<QChar, QString> restarted = lettersAfterRestart();
        QCOMPARE(restarted.value(letterA), a);
        QCOMPARE(restarted.value(letterB), b);
        resetMapping();
        QCOMPARE(letterOf(a), letterA);
        QCOMPARE(letterOf(b), letterB);

        // Gone when unmounted; the other keeps its letter, and the letter waits for it.
        QVERIFY(::umount2(QFile::encodeName(b).constData(), MNT_DETACH) == 0);
        TDriveComboBox next;
        QCOMPARE(next.findData(QVariant(letterB)), -1);
        QVERIFY(next.findData(QVariant(letterA)) >= 0);
        QVERIFY(!driveLetters().contains(letterB));
        const QString c = QStringLiteral("/media/stick-c");
        QVERIFY(mountTmpfs(c));
        const QChar letterC = letterOf(c);
        QVERIFY(!letterC.isNull() && letterC != letterB && letterC != letterA);
        QVERIFY(mountTmpfs(b));
        QCOMPARE(letterOf(b), letterB);
    }

    // A fixed disk with a label and a UUID: the label shows without udev's index, and the letter
    // follows the file system wherever it is mounted.
    void labelledDiskKeepsItsLetterByUuid() {
        if (child_)
            QSKIP("the restarted program only prints its letters");
        QTemporaryDir dir;
        const QString image = dir.path() + "/disk.img";
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(8 << 20));
        file.close();
        auto run = [](const QString& script, const QStringList& args) {
            QProcess process;
            process.start("/bin/sh",
                          QStringList{"-c", "PATH=$PATH:/sbin:/usr/sbin; " + script} + args);
            return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
                       ? process.exitCode()
                       : -1;
        };
        if (run("mkfs.ext4 -q -F -L MyDisk \"$0\"", {image}) != 0)
            QSKIP("mkfs.ext4 (e2fsprogs) cannot make a file system here");
        QVERIFY(QDir().mkpath("/mnt/disk"));
        if (run("mount -o loop,ro \"$0\" /mnt/disk", {image}) != 0)
            QSKIP("no loop device to mount a disk image on");

        TDriveComboBox picker;
        const QChar letter = letterOf(QStringLiteral("/mnt/disk"));
        QVERIFY(!letter.isNull());
        QCOMPARE(volumeLabel(letter), QStringLiteral("MyDisk"));
        const int index = picker.findData(QVariant(letter));
        QVERIFY(index >= 0);
        QCOMPARE(picker.itemText(index), QString(letter.toLower()) + QStringLiteral(": [mydisk]"));

        QCOMPARE(run("umount /mnt/disk", {}), 0);
        QVERIFY(QDir().mkpath("/mnt/elsewhere"));
        QCOMPARE(run("mount -o loop,ro \"$0\" /mnt/elsewhere", {image}), 0);
        QCOMPARE(letterOf(QStringLiteral("/mnt/elsewhere")), letter);
        QCOMPARE(run("umount /mnt/elsewhere", {}), 0);
    }

    void printLetters() {
        if (!child_)
            QSKIP("runs only as the restarted program of volumesKeepTheirLetters");
        setConfigFile(qEnvironmentVariable(ChildConfig));
        for (QChar letter : driveLetters())
            std::printf("DRIVE %c=%s\n", char(letter.unicode()),
                        driveRoot(letter).toUtf8().constData());
        std::fflush(stdout);
    }
};

QUORVANE_TEST_MAIN(TestVolumes)
#include "tst_volumes.moc"
