#include "FileControls.h"

#include "Error.h"
#include "Form.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

// Resources of a static library must be pulled in by name.
static void initFileControlResources() {
    Q_INIT_RESOURCE(filecontrols);
}

namespace {

constexpr int LevelRole = Qt::UserRole + 1;
constexpr int PathRole = Qt::UserRole + 2;
constexpr int IndentPerLevel = 10;

// Rows of one fixed height; the directory list also indents each row by its level.
class RowDelegate : public QStyledItemDelegate {
public:
    RowDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(height_);
        return size;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem shifted(option);
        shifted.rect.adjust(index.data(LevelRole).toInt() * IndentPerLevel, 0, 0, 0);
        QStyledItemDelegate::paint(painter, shifted, index);
    }

private:
    int height_;
};

QIcon driveIcon(drives::DriveType type) {
    switch (type) {
    case drives::DriveType::Removable:
        return QIcon(QStringLiteral(":/filecontrols/images/drive_floppy.xpm"));
    case drives::DriveType::Remote:
        return QIcon(QStringLiteral(":/filecontrols/images/drive_network.xpm"));
    case drives::DriveType::CDRom:
        return QIcon(QStringLiteral(":/filecontrols/images/drive_cdrom.xpm"));
    case drives::DriveType::RamDisk:
        return QIcon(QStringLiteral(":/filecontrols/images/drive_ram.xpm"));
    default:
        return QIcon(QStringLiteral(":/filecontrols/images/drive_fixed.xpm"));
    }
}

void setupList(QListWidget* list, int rowHeight) {
    list->setItemDelegate(new RowDelegate(rowHeight, list));
    list->setUniformItemSizes(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A two-pixel frame: a list 4 + 16n pixels high shows a whole number of rows.
    list->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    list->setLineWidth(2);
}

} // namespace

// ---- TDriveComboBox -------------------------------------------------------------------------

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
    initFileControlResources();
    setIconSize(QSize(16, 16));
    readDrives();
    try {
        selectDrive(drives::currentDrive());
    } catch (const InOutError&) {
        // The working directory has gone: no drive is selected.
    }
    connect(this, &QComboBox::activated, this, &TDriveComboBox::userPicked);
}

QString TDriveComboBox::entryText(QChar letter, drives::DriveType type, const QString& label,
                                  const QString& networkName) {
    const QString drive = QString(letter) + QLatin1Char(':');
    QString text;
    switch (type) {
    case drives::DriveType::Removable:
        text = drive;
        break;
    case drives::DriveType::Remote:
        text = networkName.isEmpty() ? QStringLiteral("%1 [%2]").arg(drive, label)
                                     : QStringLiteral("%1 %2").arg(drive, networkName);
        break;
    default:
        text = QStringLiteral("%1 [%2]").arg(drive, label);
        break;
    }
    return text.toLower();
}

void TDriveComboBox::readDrives() {
    const QChar selected = drive();
    QSignalBlocker blocker(this);
    clear();
    for (QChar letter : drives::driveLetters()) {
        const drives::DriveType type = drives::driveType(letter);
        if (type == drives::DriveType::Unknown)
            continue;
        const QString net =
            type == drives::DriveType::Remote ? drives::networkName(letter) : QString();
        addItem(driveIcon(type), entryText(letter, type, drives::volumeLabel(letter), net),
                QVariant(letter));
    }
    if (!selected.isNull())
        selectDrive(selected);
}

void TDriveComboBox::showPopup() {
    readDrives(); // volumes come and go while the program runs
    QComboBox::showPopup();
}

QChar TDriveComboBox::drive() const {
    return currentIndex() < 0 ? QChar() : currentData().toChar();
}

void TDriveComboBox::selectDrive(QChar letter) {
    const int index = findData(QVariant(letter.toUpper()));
    QSignalBlocker blocker(this);
    setCurrentIndex(index);
}

void TDriveComboBox::setDrive(QChar letter) {
    letter = letter.toUpper();
    if (dirList_) {
        if (letter != dirList_->drive())
            dirList_->setDrive(letter); // keeps this list in step when it succeeds
    } else {
        selectDrive(letter);
    }
}

void TDriveComboBox::setDirList(TDirectoryListBox* list) {
    if (dirList_)
        dirList_->driveCombo_ = nullptr;
    dirList_ = list;
    if (list) {
        list->driveCombo_ = this;
        selectDrive(list->drive());
    }
}

void TDriveComboBox::userPicked(int index) {
    const QChar letter = itemData(index).toChar();
    if (!runGuarded([&] { setDrive(letter); }) && dirList_)
        selectDrive(dirList_->drive()); // a drive that cannot be entered is not kept selected
}

// ---- TDirectoryListBox ----------------------------------------------------------------------

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QListWidget(parent) {
    initFileControlResources();
    setupList(this, 16);
    setIconSize(QSize(16, 16));
    try {
        directory_ = drives::currentDirectory();
    } catch (const InOutError&) {
        // Shows nothing until a move succeeds; opening the current entry reports why.
    }
    readEntries();
}

void TDirectoryListBox::readEntries() {
    static const QIcon openIcon(QStringLiteral(":/filecontrols/images/folder_open.xpm"));
    static const QIcon currentIcon(QStringLiteral(":/filecontrols/images/folder_current.xpm"));
    static const QIcon closedIcon(QStringLiteral(":/filecontrols/images/folder_closed.xpm"));
    clear();
    if (directory_.isEmpty())
        return;
    const QString root = directory_.left(3);
    const QStringList parts = directory_.mid(3).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    auto add = [&](const QString& text, int level, const QIcon& icon, const QString& path) {
        auto item = new QListWidgetItem(icon, text, this);
        item->setData(LevelRole, level);
        item->setData(PathRole, path);
    };
    add(root, 0, parts.isEmpty() ? currentIcon : openIcon, root);
    QString path = root;
    for (int i = 0; i < parts.size(); ++i) {
        path = drives::joinPath(path, parts[i]);
        add(parts[i], i + 1, i == parts.size() - 1 ? currentIcon : openIcon, path);
    }
    QStringList subdirectories;
    try {
        subdirectories = drives::subdirectories(directory_);
    } catch (const InOutError&) {
        // A directory that can be entered but not read shows no subdirectories.
    }
    for (const QString& name : subdirectories)
        add(name, int(parts.size()) + 1, closedIcon, drives::joinPath(directory_, name));
    setCurrentRow(int(parts.size()));
}

QString TDirectoryListBox::itemPath(int row) const {
    const QListWidgetItem* entry = item(row);
    return entry ? entry->data(PathRole).toString() : QString();
}

void TDirectoryListBox::setDirectory(const QString& path) {
    if (path.isEmpty() || path.compare(directory_, Qt::CaseInsensitive) == 0)
        return;
    const drives::SplitPath target = drives::processPath(path);
    const QChar previousDrive = drive();
    if (driveCombo_ && target.drive != previousDrive)
        driveCombo_->selectDrive(target.drive);
    try {
        drives::setCurrentDirectory(target.directory);
    } catch (...) {
        if (driveCombo_)
            driveCombo_->selectDrive(previousDrive);
        throw;
    }
    directory_ = drives::currentDirectory();
    readEntries();
    if (fileList_)
        fileList_->setDirectory(directory_);
    if (OnChange)
        OnChange();
}

void TDirectoryListBox::setDrive(QChar letter) {
    setDirectory(QString(letter.toUpper()) + QLatin1Char(':'));
}

void TDirectoryListBox::openCurrent() {
    const int row = currentRow();
    if (row >= 0)
        setDirectory(itemPath(row));
    else if (directory_.isEmpty())
        setDirectory(drives::currentDirectory()); // raises the reason it cannot be read
}

void TDirectoryListBox::setFileList(TFileListBox* list) {
    if (fileList_)
        fileList_->dirList_ = nullptr;
    fileList_ = list;
    if (list) {
        list->dirList_ = this;
        list->setDirectory(directory_);
    }
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        runGuarded([this] { openCurrent(); });
        return;
    }
    QListWidget::keyPressEvent(event);
}

void TDirectoryListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    if (itemAt(event->position().toPoint()))
        runGuarded([this] { openCurrent(); });
}

// ---- TFileListBox ---------------------------------------------------------------------------

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent) {
    setupList(this, 15);
    try {
        directory_ = drives::currentDirectory();
    } catch (const InOutError&) {
        return; // no directory to read yet
    }
    readFiles();
}

void TFileListBox::setMask(const QString& mask) {
    mask_ = mask;
    readFiles();
}

void TFileListBox::setDirectory(const QString& windowsDir) {
    directory_ = windowsDir;
    readFiles();
}

void TFileListBox::readFiles() {
    QStringList names;
    try {
        if (!directory_.isEmpty())
            names = drives::findFiles(directory_, mask_);
    } catch (const InOutError&) {
        // As a search that finds nothing.
    }
    setUpdatesEnabled(false);
    clear();
    addItems(names);
    setUpdatesEnabled(true);
}

QString TFileListBox::fileName() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    if (selected.isEmpty())
        return QString();
    return drives::joinPath(directory_, selected.first()->text());
}

bool TFileListBox::selectName(const QString& name) {
    QListWidgetItem* match = nullptr;
    for (int row = 0; row < count(); ++row) {
        QListWidgetItem* entry = item(row);
        if (entry->text() == name) {
            match = entry;
            break;
        }
        if (!match && entry->text().compare(name, Qt::CaseInsensitive) == 0)
            match = entry;
    }
    if (!match)
        return false;
    setCurrentItem(match);
    match->setSelected(true);
    return true;
}

void TFileListBox::applyFilePath(const QString& text) {
    if (text.isEmpty() || text.compare(fileName(), Qt::CaseInsensitive) == 0)
        return;
    const drives::SplitPath split = drives::processPath(text);
    if (dirList_)
        dirList_->setDirectory(text);
    else
        setDirectory(split.directory);
    const QString& name = split.fileName;
    if (name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'))) {
        setMask(name);
    } else if (!name.isEmpty() && !selectName(name)) {
        if (!drives::fileExists(drives::joinPath(directory_, name)))
            throw Error(QStringLiteral("Invalid file name - %1").arg(text));
        setMask(name); // the mask or the file's attributes hid it
        selectName(name);
    }
}

void TFileListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    if (OnDblClick)
        runGuarded(OnDblClick);
}
