// The toolkit's drive, directory and file list widgets, over the drive layer. Linked as a chain:
// a drive list moves its directory list, a directory list moves its file list; moves the other
// way round (a directory list on another drive) keep the drive list in step.
#pragma once

#include "Drives.h"

#include <QComboBox>
#include <QListWidget>

#include <functional>

class TDirectoryListBox;
class TFileListBox;

class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDriveComboBox(QWidget* parent = nullptr);

    // The selected drive's letter, upper case.
    QChar drive() const;
    // Selects `letter` and moves the linked directory list to that drive's current directory;
    // raises InOutError when the drive cannot be entered (the selection then stays as it was).
    void setDrive(QChar letter);

    TDirectoryListBox* dirList() const { return dirList_; }
    void setDirList(TDirectoryListBox* list);

    // Reads the drives again; each opening of the drop-down does.
    void readDrives();
    void showPopup() override;

    // The entry of a drive: lower case; a removable drive as "a:", a fixed drive, optical disc or
    // RAM disk with its volume label ("c: [label]"), a network drive with its connection's name.
    static QString entryText(QChar letter, drives::DriveType type, const QString& label,
                             const QString& networkName);

private:
    friend class TDirectoryListBox;
    void selectDrive(QChar letter); // the selection only; nothing else moves
    void userPicked(int index);

    TDirectoryListBox* dirList_ = nullptr;
};

class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget* parent = nullptr);

    // The shown directory, as the system reports it ("C:\data").
    QString directory() const { return directory_; }
    // Moves to the directory of `path` (which may name a drive, and may end in a file name or a
    // pattern, which is ignored): drive list, this list, the working directory, the file list,
    // then OnChange. Nothing happens when `path` is empty or names the shown directory already.
    // Raises InOutError when the directory cannot be entered; then nothing has moved.
    void setDirectory(const QString& path);
    QChar drive() const { return directory_.isEmpty() ? QChar() : directory_[0]; }
    // Moves to the current directory of drive `letter`.
    void setDrive(QChar letter);
    // Opens the selected entry: moves to the directory it stands for.
    void openCurrent();
    // The directory entry `row` stands for.
    QString itemPath(int row) const;

    TFileListBox* fileList() const { return fileList_; }
    void setFileList(TFileListBox* list);

    std::function<void()> OnChange;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    friend class TDriveComboBox;
    void readEntries();

    QString directory_;
    TFileListBox* fileList_ = nullptr;
    TDriveComboBox* driveCombo_ = nullptr;
};

class TFileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget* parent = nullptr);

    // ";"-separated patterns; setting it reads the list again.
    QString mask() const { return mask_; }
    void setMask(const QString& mask);

    QString directory() const { return directory_; }
    void setDirectory(const QString& windowsDir); // and reads the list
    void readFiles();

    // The selected file's path: directory and name joined by one backslash; empty when none.
    QString fileName() const;
    // Applies a typed path: moves the lists to its directory, takes a pattern as the mask, or
    // selects a typed file. Raises InOutError, or Error "Invalid file name - %s".
    void applyFilePath(const QString& text);

    TDirectoryListBox* dirList() const { return dirList_; }

    std::function<void()> OnDblClick;

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    friend class TDirectoryListBox;
    bool selectName(const QString& name);

    QString mask_ = QStringLiteral("*.*");
    QString directory_;
    TDirectoryListBox* dirList_ = nullptr;
};
