// The directory picker and its three lists, on two small trees mapped as drives T: and U:.
#include "Error.h"
#include "FileControls.h"
#include "GetPath.h"
#include "MessageBox.h"
#include "TestMain.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using drives::mapDrive;

namespace {

void writeFile(const QString& path) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write("x");
}

QStringList texts(const QListWidget* list) {
    QStringList result;
    for (int row = 0; row < list->count(); ++row)
        result.append(list->item(row)->text());
    return result;
}

QString u8(const char* text) {
    return QString::fromUtf8(text);
}

// Host names a Windows path cannot hold as they are.
QList<QByteArray> unfitNames() {
    return {"back\\slash.txt", "star*.txt", "what?.txt", "co:lon.txt",
            "line\nfeed.txt",  "a\xfe",     "a\xff",     "中文.txt"};
}

void createHostFile(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0600);
    QVERIFY2(fd >= 0, path.constData());
    ::close(fd);
}

ino_t inodeOf(const QByteArray& path) {
    struct stat st;
    return ::stat(path.constData(), &st) == 0 ? st.st_ino : 0;
}

// A picker shown without a modal loop; disposed of at the end unless it already was.
struct Picker {
    QPointer<TFormGetPath> form;
    explicit Picker(const QString& startPath) : form(new TFormGetPath) {
        form->setWindowTitle(startPath);
        form->show();
    }
    ~Picker() { delete form.data(); }
    template <typename T> T* get(const char* name) const {
        return form->findChild<T*>(QString::fromLatin1(name));
    }
    QLineEdit* edit() const { return get<QLineEdit>("DirectoryName"); }
    TDirectoryListBox* dirs() const { return get<TDirectoryListBox>("DirectoryListBox1"); }
    TFileListBox* files() const { return get<TFileListBox>("FileListBox1"); }
    TDriveComboBox* drive() const { return get<TDriveComboBox>("DriveComboBox1"); }
    void type(const QString& text) const {
        edit()->setText(text);
        QTest::keyClick(edit(), Qt::Key_Return);
    }
    void select(const QString& name) const {
        const auto found = files()->findItems(name, Qt::MatchExactly);
        QVERIFY2(!found.isEmpty(), qPrintable(name));
        files()->setCurrentItem(found.first());
    }
};

} // namespace

class TestGetPath : public QObject {
    Q_OBJECT

private:
    QTemporaryDir treeT_, treeU_, treeW_;
    QList<msgbox::Shown> boxes_;
    QList<msgbox::Answer> answers_;

    QString hostT(const QString& relative) const { return treeT_.path() + "/" + relative; }
    QByteArray namesDir() const { return QFile::encodeName(treeW_.path()) + "/names"; }

private slots:
    void initTestCase() {
        QVERIFY(treeT_.isValid() && treeU_.isValid() && treeW_.isValid());
        QDir t(treeT_.path());
        for (const char* d : {"docs/sub1/deep", "docs/Sub2", "資料", "case"})
            QVERIFY(t.mkpath(u8(d)));
        for (const char* f :
             {"root1.txt", "docs/a.txt", "docs/b.log", "docs/c.TXT", "docs/Readme.TXT",
              "docs/.hidden", "資料/報告.txt", "case/a.txt", "case/A.txt"})
            writeFile(hostT(u8(f)));
        QVERIFY(::mkdir(namesDir().constData(), 0700) == 0);
        for (const QByteArray& name : unfitNames())
            createHostFile(namesDir() + '/' + name);
        for (const char* name : {"star*dir", "q?dir", "back\\dir"})
            QVERIFY(::mkdir((namesDir() + '/' + name).constData(), 0700) == 0);
        QVERIFY(QDir(treeU_.path()).mkpath("sub"));
        writeFile(treeU_.path() + "/u.txt");
        mapDrive(QLatin1Char('T'), treeT_.path());
        mapDrive(QLatin1Char('U'), treeU_.path());
        mapDrive(QLatin1Char('W'), treeW_.path());
        msgbox::setHook([this](const msgbox::Shown& shown) {
            boxes_.append(shown);
            return answers_.isEmpty() ? msgbox::Answer::Ok : answers_.takeFirst();
        });
    }

    void cleanupTestCase() {
        // QTemporaryDir cannot remove names that are not UTF-8.
        for (const QByteArray& name : unfitNames())
            ::unlink((namesDir() + '/' + name).constData());
        msgbox::setHook({});
        QDir::setCurrent(QDir::tempPath());
    }

    void init() {
        boxes_.clear();
        answers_.clear();
        drives::setCurrentDirectory(QStringLiteral("T:\\docs"));
    }

    void directoryListShowsTheWayDown() {
        TDirectoryListBox list;
        QCOMPARE(list.directory(), QStringLiteral("T:\\docs"));
        QCOMPARE(texts(&list), QStringList({"T:\\", "docs", "sub1", "Sub2"}));
        QCOMPARE(list.currentRow(), 1);
        list.setDirectory(QStringLiteral("t:\\DOCS\\SUB1"));
        QCOMPARE(texts(&list), QStringList({"T:\\", "docs", "sub1", "deep"}));
        QCOMPARE(list.currentRow(), 2);
        QCOMPARE(list.itemPath(0), QStringLiteral("T:\\"));
        QCOMPARE(list.itemPath(3), QStringLiteral("T:\\docs\\sub1\\deep"));

        // Enter opens the selected entry.
        list.setCurrentRow(3);
        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(list.directory(), QStringLiteral("T:\\docs\\sub1\\deep"));
        list.setCurrentRow(0);
        QTest::keyClick(&list, Qt::Key_Enter);
        QCOMPARE(list.directory(), QStringLiteral("T:\\"));
        QCOMPARE(texts(&list), QStringList({"T:\\", "case", "docs", u8("資料")}));
    }

    void settingTheDirectoryMovesEverythingBeforeTheNotification() {
        drives::setCurrentDirectory(QStringLiteral("U:\\"));
        TDriveComboBox combo;
        TDirectoryListBox dirs;
        TFileListBox files;
        dirs.setFileList(&files);
        combo.setDirList(&dirs);
        QCOMPARE(combo.drive(), QLatin1Char('U'));
        QStringList seen;
        dirs.OnChange = [&] {
            seen << QString(combo.drive()) << dirs.directory() << drives::currentDirectory()
                 << files.directory() << texts(&files).join(',');
        };
        dirs.setDirectory(QStringLiteral("t:\\DOCS\\b.log"));
        QCOMPARE(seen, QStringList({"T", "T:\\docs", "T:\\docs", "T:\\docs",
                                    "a.txt,b.log,c.TXT,Readme.TXT"}));

        // Nothing happens for an empty path or the shown directory; a failed move moves nothing.
        seen.clear();
        dirs.setDirectory(QString());
        dirs.setDirectory(QStringLiteral("T:\\DOCS"));
        try {
            dirs.setDirectory(QStringLiteral("U:\\nope"));
            QFAIL("moved to a missing directory");
        } catch (const InOutError& e) {
            QCOMPARE(e.code(), 2);
        }
        QVERIFY(seen.isEmpty());
        QCOMPARE(combo.drive(), QLatin1Char('T'));
        QCOMPARE(dirs.directory(), QStringLiteral("T:\\docs"));
        QCOMPARE(drives::currentDirectory(), QStringLiteral("T:\\docs"));
    }

    void driveEntryTexts_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("net");
        QTest::addColumn<QString>("expected");
        using drives::DriveType;
        QTest::newRow("removable") << int(DriveType::Removable) << "STICK"
                                   << ""
                                   << "a:";
        QTest::newRow("fixed") << int(DriveType::Fixed) << "SYSTEM"
                               << ""
                               << "c: [system]";
        QTest::newRow("no label") << int(DriveType::Fixed) << ""
                                  << ""
                                  << "c: []";
        QTest::newRow("optical") << int(DriveType::CDRom) << "Disc 1"
                                 << ""
                                 << "c: [disc 1]";
        QTest::newRow("ram") << int(DriveType::RamDisk) << "Ram"
                             << ""
                             << "c: [ram]";
        QTest::newRow("network") << int(DriveType::Remote) << "X"
                                 << "//Srv/Share"
                                 << "c: //srv/share";
        QTest::newRow("network unnamed") << int(DriveType::Remote) << "Lbl"
                                         << ""
                                         << "c: [lbl]";
    }

    void driveEntryTexts() {
        QFETCH(int, type);
        QFETCH(QString, label);
        QFETCH(QString, net);
        QFETCH(QString, expected);
        const QChar letter = expected == "a:" ? QLatin1Char('A') : QLatin1Char('C');
        QCOMPARE(TDriveComboBox::entryText(letter, drives::DriveType(type), label, net), expected);
    }

    void pickingADriveGoesToItsCurrentDirectory() {
        drives::setCurrentDirectory(QStringLiteral("U:\\SUB"));
        drives::setCurrentDirectory(QStringLiteral("T:\\docs"));
        TDriveComboBox combo;
        TDirectoryListBox dirs;
        combo.setDirList(&dirs);
        const int u = combo.findData(QVariant(QLatin1Char('U')));
        QVERIFY(u >= 0);
        QVERIFY(combo.itemText(u).startsWith("u: "));
        emit combo.activated(u);
        QCOMPARE(dirs.directory(), QStringLiteral("U:\\sub"));
        QCOMPARE(combo.drive(), QLatin1Char('U'));
        emit combo.activated(combo.findData(QVariant(QLatin1Char('T'))));
        QCOMPARE(dirs.directory(), QStringLiteral("T:\\docs"));

        // A drive whose directory has gone is not listed.
        mapDrive(QLatin1Char('V'), hostT("gone"));
        combo.readDrives();
        QCOMPARE(combo.findData(QVariant(QLatin1Char('V'))), -1);
        mapDrive(QLatin1Char('V'), QString());
    }

    void applyTypedPath_data() {
        QTest::addColumn<QString>("presetMask");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("error");
        auto row = [](const char* name, const char* preset, const char* text, const char* dir,
                      const char* mask, const char* selected, const char* error = "") {
            QTest::newRow(name) << u8(preset) << u8(text) << u8(dir) << u8(mask) << u8(selected)
                                << u8(error);
        };
        row("pattern", "*.*", "*.TXT", "T:\\docs", "*.TXT", "");
        row("pattern in a missing directory", "*.*", "T:\\nope\\*.txt", "T:\\docs", "*.*", "",
            "File not found");
        row("file elsewhere", "*.*", "t:\\資料\\報告.TXT", "T:\\資料", "*.*", "T:\\資料\\報告.txt");
        row("file in a root", "*.*", "T:\\root1.txt", "T:\\", "*.*", "T:\\root1.txt");
        row("file in other case", "*.*", "README.txt", "T:\\docs", "*.*", "T:\\docs\\Readme.TXT");
        row("exact case first", "*.*", "T:\\case\\a.txt", "T:\\case", "*.*", "T:\\case\\a.txt");
        row("loose case", "*.*", "T:\\case\\A.TXT", "T:\\case", "*.*", "T:\\case\\A.txt");
        row("directory", "*.*", "sub1", "T:\\docs\\sub1", "*.*", "");
        row("brackets", "*.*", "[sub1]", "T:\\docs\\sub1", "*.*", "");
        row("hidden by the mask", "*.log", "a.txt", "T:\\docs", "a.txt", "T:\\docs\\a.txt");
        row("hidden file", "*.*", ".hidden", "T:\\docs", ".hidden", "");
        row("missing", "*.*", "T:\\nope\\x.txt", "T:\\docs", "*.*", "", "File not found");
        row("file on the way", "*.*", "T:\\docs\\a.txt\\x", "T:\\docs", "*.*", "",
            "Invalid filename");
    }

    void applyTypedPath() {
        QFETCH(QString, presetMask);
        QFETCH(QString, text);
        QFETCH(QString, directory);
        QFETCH(QString, mask);
        QFETCH(QString, selected);
        QFETCH(QString, error);
        TDirectoryListBox dirs;
        TFileListBox files;
        dirs.setFileList(&files);
        files.setMask(presetMask);
        QString raised;
        try {
            files.applyFilePath(text);
        } catch (const Error& e) {
            raised = e.message();
        }
        QCOMPARE(raised, error);
        QCOMPARE(dirs.directory(), directory);
        QCOMPARE(files.directory(), directory);
        QCOMPARE(files.mask(), mask);
        QCOMPARE(files.fileName(), selected);
        QCOMPARE(drives::currentDirectory(), directory);
    }

    void startPath_data() {
        QTest::addColumn<QString>("startPath");
        QTest::addColumn<QString>("directoryName");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QChar>("drive");
        QTest::newRow("empty") << ""
                               << ""
                               << "T:\\docs" << QChar('T');
        QTest::newRow("directory") << "U:\\sub"
                                   << ""
                                   << "T:\\docs" << QChar('T');
        QTest::newRow("missing file") << "U:\\gone.txt"
                                      << ""
                                      << "T:\\docs" << QChar('T');
        QTest::newRow("file") << "t:\\DOCS\\SUB1\\..\\b.log"
                              << "T:\\docs"
                              << "T:\\docs" << QChar('T');
        QTest::newRow("other drive") << "u:\\U.TXT"
                                     << "U:\\"
                                     << "U:\\" << QChar('U');
        QTest::newRow("file in a root") << "T:\\root1.txt"
                                        << "T:\\"
                                        << "T:\\" << QChar('T');
        QTest::newRow("spelled by the system")
            << u8("t:\\資料\\報告.TXT") << u8("T:\\資料") << u8("T:\\資料") << QChar('T');
        QTest::newRow("relative name") << "a.txt"
                                       << ""
                                       << "T:\\docs" << QChar('T');
    }

    void startPath() {
        QFETCH(QString, startPath);
        QFETCH(QString, directoryName);
        QFETCH(QString, shown);
        QFETCH(QChar, drive);
        Picker picker(startPath);
        QCOMPARE(picker.form->windowTitle(), u8("目錄設定"));
        QCOMPARE(picker.edit()->text(), directoryName);
        QCOMPARE(picker.dirs()->directory(), shown);
        QCOMPARE(picker.files()->directory(), shown);
        QCOMPARE(picker.drive()->drive(), drive);
        QCOMPARE(picker.files()->fileName(), QString());
        QVERIFY(boxes_.isEmpty());
    }

    void aFileInARootComesBackWithOneSeparator() {
        Picker picker(QStringLiteral("T:\\root1.txt"));
        picker.select(QStringLiteral("root1.txt"));
        QTest::mouseClick(picker.get<QPushButton>("BBOK"), Qt::LeftButton);
        QCOMPARE(picker.form->windowTitle(), QStringLiteral("T:\\root1.txt"));
    }

    void enterInTheEdit_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("directoryName");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("error");
        QTest::newRow("pattern") << "*.txt"
                                 << "T:\\docs" << QStringList{"a.txt", "c.TXT", "Readme.TXT"} << ""
                                 << "";
        QTest::newRow("file elsewhere")
            << u8("T:\\資料\\報告.txt") << u8("T:\\資料") << QStringList{u8("報告.txt")}
            << u8("T:\\資料\\報告.txt") << "";
        QTest::newRow("missing") << "U:\\nope"
                                 << "U:\\nope"
                                 << QStringList{"a.txt", "b.log", "c.TXT", "Readme.TXT"} << ""
                                 << "File not found";
    }

    void enterInTheEdit() {
        QFETCH(QString, typed);
        QFETCH(QString, directoryName);
        QFETCH(QStringList, files);
        QFETCH(QString, selected);
        QFETCH(QString, error);
        Picker picker{QString()};
        picker.type(typed);
        QCOMPARE(picker.edit()->text(), directoryName);
        QCOMPARE(texts(picker.files()), files);
        QCOMPARE(picker.files()->fileName(), selected);
        QCOMPARE(picker.get<QLabel>("Label3")->text(), QStringLiteral("Files:(*.*)"));
        QCOMPARE(boxes_.size(), error.isEmpty() ? 0 : 1);
        if (!error.isEmpty()) {
            QCOMPARE(boxes_[0].kind, msgbox::Kind::Error);
            QCOMPARE(boxes_[0].text, msgbox::errorText(error));
            QCOMPARE(picker.dirs()->directory(), QStringLiteral("T:\\docs"));
        }
        QVERIFY(picker.form->isVisible());
        QTest::mouseClick(picker.get<QPushButton>("BBOK"), Qt::LeftButton);
        QCOMPARE(picker.form->windowTitle(), selected);
    }

    void confirmWithAMissingDirectory_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<QString>("created"); // in tree T
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("result"); // "-" while the picker stays open
        QTest::newRow("no") << "T:\\docs\\new" << false << false << ""
                            << ""
                            << "T:\\docs\\a.txt";
        QTest::newRow("yes") << "T:\\docs\\new" << true << false << "docs/new"
                             << ""
                             << "T:\\docs\\a.txt";
        QTest::newRow("yes relative") << u8("新的") << true << false << u8("docs/新的") << ""
                                      << "T:\\docs\\a.txt";
        QTest::newRow("yes but a file")
            << "T:\\docs\\b.log" << true << false << "" << u8("目錄無法建立！") << "-";
        QTest::newRow("yes but no parent")
            << "T:\\nope\\new" << true << true << "" << u8("目錄無法建立！") << "-";
        QTest::newRow("double click, a file")
            << "T:\\DOCS\\B.LOG" << true << true << "" << u8("目錄無法建立！") << "-";
        QTest::newRow("double click, no") << "T:\\docs\\b.log" << false << true << ""
                                          << ""
                                          << "T:\\docs\\a.txt";
    }

    void confirmWithAMissingDirectory() {
        QFETCH(QString, typed);
        QFETCH(bool, yes);
        QFETCH(bool, doubleClick);
        QFETCH(QString, created);
        QFETCH(QString, message);
        QFETCH(QString, result);
        Picker picker{QString()};
        picker.select(QStringLiteral("a.txt"));
        picker.edit()->setText(typed);
        answers_ << (yes ? msgbox::Answer::Yes : msgbox::Answer::No);
        if (doubleClick) {
            const QRect row = picker.files()->visualItemRect(picker.files()->currentItem());
            QTest::mouseDClick(picker.files()->viewport(), Qt::LeftButton, {}, row.center());
        } else {
            QTest::mouseClick(picker.get<QPushButton>("BBOK"), Qt::LeftButton);
        }
        QVERIFY(!boxes_.isEmpty());
        QCOMPARE(boxes_[0].kind, msgbox::Kind::Confirm);
        QCOMPARE(boxes_[0].caption, QStringLiteral("Confirm"));
        QCOMPARE(boxes_[0].text, u8("目錄不存在，是否建立？"));
        QCOMPARE(boxes_.size(), message.isEmpty() ? 1 : 2);
        if (!message.isEmpty()) {
            QCOMPARE(boxes_[1].kind, msgbox::Kind::Message);
            QCOMPARE(boxes_[1].text, message);
        }
        if (!created.isEmpty()) {
            QVERIFY(QFileInfo(hostT(created)).isDir());
            QVERIFY(QDir(hostT(created)).removeRecursively());
        }
        QCOMPARE(picker.dirs()->directory(), QStringLiteral("T:\\docs"));
        QCOMPARE(picker.edit()->text(), typed);
        if (result == "-") {
            QVERIFY(picker.form->isVisible());
            QCOMPARE(picker.form->windowTitle(), u8("目錄設定"));
        } else {
            QVERIFY(!picker.form->isVisible());
            QCOMPARE(picker.form->windowTitle(), result);
        }
    }

    void confirmWithoutAFile() {
        Picker picker{QString()};
        QTest::mouseClick(picker.get<QPushButton>("BBOK"), Qt::LeftButton);
        QVERIFY(boxes_.isEmpty());
        QVERIFY(!picker.form->isVisible());
        QCOMPARE(picker.form->windowTitle(), QString());
    }

    void everyOtherWayOutGivesNothing_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("cancel button") << 0;
        QTest::newRow("escape in the edit") << 1;
        QTest::newRow("escape in the file list") << 2;
        QTest::newRow("close box") << 3;
        QTest::newRow("double click beside the files") << 4;
    }

    void everyOtherWayOutGivesNothing() {
        QFETCH(int, way);
        Picker picker(QStringLiteral("T:\\docs\\b.log"));
        if (way != 4)
            picker.select(QStringLiteral("b.log"));
        switch (way) {
        case 0:
            QTest::mouseClick(picker.get<QPushButton>("BBCancel"), Qt::LeftButton);
            break;
        case 1:
            QTest::keyClick(picker.edit(), Qt::Key_Escape);
            break;
        case 2:
            QTest::keyClick(picker.files(), Qt::Key_Escape);
            break;
        case 3:
            picker.form->close();
            break;
        case 4:
            QTest::mouseDClick(picker.files()->viewport(), Qt::LeftButton, {},
                               QPoint(5, picker.files()->viewport()->height() - 3));
            break;
        }
        QVERIFY(!picker.form->isVisible());
        QCOMPARE(picker.form->windowTitle(), QString());
        QVERIFY(boxes_.isEmpty());
    }

    void enterHasNoDialogWideMeaning() {
        Picker picker{QString()};
        picker.select(QStringLiteral("a.txt"));
        for (QWidget* w :
             {static_cast<QWidget*>(picker.files()), static_cast<QWidget*>(picker.drive())}) {
            w->setFocus();
            QTest::keyClick(w, Qt::Key_Return);
        }
        QVERIFY(picker.form->isVisible());
        QCOMPARE(picker.form->windowTitle(), u8("目錄設定"));
        // The directory list shows a whole number of its rows.
        QCOMPARE(picker.dirs()->viewport()->height() % 16, 0);
    }

    // Each name is listed, picked, returned, and found again as a start path: the same file.
    void hostNamesThroughThePicker_data() {
        QTest::addColumn<QByteArray>("name");
        for (const QByteArray& name : unfitNames())
            QTest::newRow(name.toHex().constData()) << name;
    }

    void hostNamesThroughThePicker() {
        QFETCH(QByteArray, name);
        const ino_t inode = inodeOf(namesDir() + '/' + name);
        QVERIFY(inode != 0);
        const QString shown = drives::fromHostName(name);
        QString result;
        {
            Picker picker{QString()};
            picker.type(QStringLiteral("W:\\names"));
            const QStringList listed = texts(picker.files());
            QCOMPARE(listed.size(), unfitNames().size());
            QCOMPARE(QSet<QString>(listed.begin(), listed.end()).size(), listed.size());
            picker.select(shown);
            QTest::mouseClick(picker.get<QPushButton>("BBOK"), Qt::LeftButton);
            result = picker.form->windowTitle();
        }
        QCOMPARE(result, QStringLiteral("W:\\names\\") + shown);
        QCOMPARE(inodeOf(drives::toHostBytes(result)), inode);
        drives::setCurrentDirectory(QStringLiteral("U:\\"));
        Picker again(result);
        QCOMPARE(again.edit()->text(), QStringLiteral("W:\\names"));
        QCOMPARE(again.dirs()->directory(), QStringLiteral("W:\\names"));
        again.select(shown);
        QTest::mouseClick(again.get<QPushButton>("BBOK"), Qt::LeftButton);
        QCOMPARE(again.form->windowTitle(), result);
        QVERIFY(boxes_.isEmpty());
    }

    void directoriesWithWildcardsOpenFromTheList_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("byDoubleClick");
        for (const char* name : {"star*dir", "q?dir", "back\\dir"}) {
            QTest::addRow("%s, Enter", name) << QByteArray(name) << false;
            QTest::addRow("%s, double click", name) << QByteArray(name) << true;
        }
    }

    void directoriesWithWildcardsOpenFromTheList() {
        QFETCH(QByteArray, name);
        QFETCH(bool, byDoubleClick);
        Picker picker{QString()};
        picker.type(QStringLiteral("W:\\names"));
        const auto found = picker.dirs()->findItems(drives::fromHostName(name), Qt::MatchExactly);
        QCOMPARE(found.size(), 1);
        picker.dirs()->setCurrentItem(found.first());
        if (byDoubleClick)
            QTest::mouseDClick(picker.dirs()->viewport(), Qt::LeftButton, {},
                               picker.dirs()->visualItemRect(found.first()).center());
        else
            QTest::keyClick(picker.dirs(), Qt::Key_Return);
        QVERIFY(boxes_.isEmpty());
        const QString expected = QStringLiteral("W:\\names\\") + drives::fromHostName(name);
        QCOMPARE(picker.dirs()->directory(), expected);
        QCOMPARE(picker.edit()->text(), expected);
        QCOMPARE(QFile::encodeName(QDir::currentPath()), namesDir() + '/' + name);
    }

    // The shown directory removed under the picker: moves fail with the error, nothing jumps.
    void removedShownDirectory() {
        QVERIFY(QDir(treeU_.path()).mkpath("doomed/sub"));
        writeFile(treeU_.path() + "/doomed/x.txt");
        {
            Picker picker{QString()};
            picker.type(QStringLiteral("U:\\doomed"));
            const QStringList dirsBefore = texts(picker.dirs());
            QCOMPARE(texts(picker.files()), QStringList{"x.txt"});
            QVERIFY(QDir(treeU_.path() + "/doomed").removeRecursively());

            picker.type(QStringLiteral("*.txt"));
            const auto sub = picker.dirs()->findItems(QStringLiteral("sub"), Qt::MatchExactly);
            QCOMPARE(sub.size(), 1);
            QTest::mouseDClick(picker.dirs()->viewport(), Qt::LeftButton, {},
                               picker.dirs()->visualItemRect(sub.first()).center());
            QCOMPARE(boxes_.size(), 2);
            for (const msgbox::Shown& box : boxes_) {
                QCOMPARE(box.kind, msgbox::Kind::Error);
                QCOMPARE(box.text, msgbox::errorText(QStringLiteral("File not found")));
            }
            QCOMPARE(picker.dirs()->directory(), QStringLiteral("U:\\doomed"));
            QCOMPARE(texts(picker.dirs()), dirsBefore);
            QCOMPARE(texts(picker.files()), QStringList{"x.txt"});
            QCOMPARE(picker.drive()->drive(), QLatin1Char('U'));
            QVERIFY(picker.form->isVisible());
            QTest::keyClick(picker.files(), Qt::Key_Escape);
        }
        // The next picker names no directory for the one that has gone, and says why.
        boxes_.clear();
        Picker next{QString()};
        QCOMPARE(boxes_.size(), 1);
        QCOMPARE(boxes_[0].text, msgbox::errorText(QStringLiteral("File not found")));
        QVERIFY(next.form->isVisible());
        QCOMPARE(next.dirs()->directory(), QString());
        QCOMPARE(next.dirs()->count(), 0);
        QCOMPARE(next.files()->count(), 0);
        QCOMPARE(next.edit()->text(), QString());
        next.type(QStringLiteral("T:\\docs"));
        QCOMPARE(next.dirs()->directory(), QStringLiteral("T:\\docs"));
        QCOMPARE(boxes_.size(), 1);
    }

    // A focused button is pressed by Enter, as by Space.
    void enterPressesTheFocusedButton_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("result");
        QTest::newRow("confirm, Return") << "BBOK" << int(Qt::Key_Return) << "T:\\docs\\b.log";
        QTest::newRow("confirm, keypad Enter") << "BBOK" << int(Qt::Key_Enter) << "T:\\docs\\b.log";
        QTest::newRow("cancel, Return") << "BBCancel" << int(Qt::Key_Return) << "";
    }

    void enterPressesTheFocusedButton() {
        QFETCH(QString, button);
        QFETCH(int, key);
        QFETCH(QString, result);
        Picker picker(QStringLiteral("T:\\docs\\b.log"));
        picker.select(QStringLiteral("b.log"));
        auto pressed = picker.get<QPushButton>(qPrintable(button));
        pressed->setFocus();
        QTest::keyClick(pressed, Qt::Key(key));
        QVERIFY(!picker.form->isVisible());
        QCOMPARE(picker.form->windowTitle(), result);
    }

    void browseRunsModallyAndDisposesOnce() {
        TForm owner;
        int destroyed = 0;
        QString seenName, seenCaption;
        QTimer::singleShot(0, [&] {
            auto dialog = owner.ownedForms().isEmpty()
                              ? nullptr
                              : qobject_cast<TFormGetPath*>(owner.ownedForms().first().data());
            if (!dialog)
                return;
            connect(dialog, &QObject::destroyed, [&] { ++destroyed; });
            seenCaption = dialog->windowTitle();
            seenName = dialog->findChild<QLineEdit*>("DirectoryName")->text();
            auto files = dialog->findChild<TFileListBox*>("FileListBox1");
            files->setCurrentItem(files->findItems("u.txt", Qt::MatchExactly).value(0));
            dialog->findChild<QPushButton*>("BBOK")->click();
        });
        // Never left blocked: whatever is still open after a while is closed.
        QTimer::singleShot(5000, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        const QString result = TFormGetPath::Browse(&owner, QStringLiteral("U:\\u.txt"));
        QCOMPARE(seenCaption, u8("目錄設定"));
        QCOMPARE(seenName, QStringLiteral("U:\\"));
        QCOMPARE(result, QStringLiteral("U:\\u.txt"));
        QCOMPARE(destroyed, 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(destroyed, 1);
        QVERIFY(owner.ownedForms().isEmpty() || !owner.ownedForms().first());
    }

    void theNextPickerStartsWhereTheLastEnded() {
        TForm owner;
        auto driveAndClose = [&](const std::function<void(TFormGetPath*)>& act) {
            QTimer::singleShot(0, [&owner, act] {
                for (const QPointer<TForm>& form : owner.ownedForms())
                    if (auto dialog = qobject_cast<TFormGetPath*>(form.data()))
                        act(dialog);
            });
            QTimer::singleShot(5000, [] {
                if (QWidget* modal = QApplication::activeModalWidget())
                    modal->close();
            });
        };
        QString firstName, secondShown, secondName;
        driveAndClose([&](TFormGetPath* dialog) {
            auto edit = dialog->findChild<QLineEdit*>("DirectoryName");
            edit->setText(QStringLiteral("T:\\DOCS\\SUB1\\deep"));
            QTest::keyClick(edit, Qt::Key_Return);
            firstName = edit->text();
            dialog->findChild<QPushButton*>("BBCancel")->click();
        });
        QCOMPARE(TFormGetPath::Browse(&owner, QStringLiteral("U:\\u.txt")), QString());
        QCOMPARE(firstName, QStringLiteral("T:\\docs\\sub1\\deep"));
        driveAndClose([&](TFormGetPath* dialog) {
            secondShown = dialog->findChild<TDirectoryListBox*>("DirectoryListBox1")->directory();
            secondName = dialog->findChild<QLineEdit*>("DirectoryName")->text();
            // As the close box does: the close arrives as an event of the modal loop.
            QMetaObject::invokeMethod(dialog, &QWidget::close, Qt::QueuedConnection);
        });
        QCOMPARE(TFormGetPath::Browse(&owner, QString()), QString());
        QCOMPARE(secondShown, QStringLiteral("T:\\docs\\sub1\\deep"));
        QCOMPARE(secondName, QString());
        QCOMPARE(drives::currentDirectory(), QStringLiteral("T:\\docs\\sub1\\deep"));
    }
};

QUORVANE_TEST_MAIN(TestGetPath)
#include "tst_getpath.moc"
