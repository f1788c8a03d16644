#include "GetPath.h"

#include "Drives.h"
#include "MessageBox.h"
#include "ui_GetPath.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>

static void initGetPathResources() {
    Q_INIT_RESOURCE(getpath);
}

namespace {

QFont fontOf(const char* family, int pixels) {
    QFont font(QString::fromUtf8(family));
    font.setPixelSize(pixels);
    return font;
}

QIcon glyph(const QString& name) {
    QIcon icon;
    icon.addPixmap(QPixmap(QStringLiteral(":/getpath/images/%1.xpm").arg(name)), QIcon::Normal);
    icon.addPixmap(QPixmap(QStringLiteral(":/getpath/images/%1_disabled.xpm").arg(name)),
                   QIcon::Disabled);
    return icon;
}

// Everything before the last backslash or drive colon; the backslash right after a drive colon
// stays, so that a file in a root gives the root ("C:\").
QString directoryPart(const QString& path) {
    const QString p = QString(path).replace(QLatin1Char('/'), QLatin1Char('\\'));
    const qsizetype slash = p.lastIndexOf(QLatin1Char('\\'));
    const qsizetype colon = p.lastIndexOf(QLatin1Char(':'));
    const qsizetype cut = std::max(slash, colon);
    if (cut < 0)
        return QString();
    if (cut == colon)
        return p.left(cut + 1);
    if (cut > 0 && p[cut - 1] == QLatin1Char(':'))
        return p.left(cut + 1);
    return p.left(cut);
}

} // namespace

TFormGetPath::TFormGetPath(QObject* owner) : TForm(owner), ui(new Ui::TFormGetPath) {
    initGetPathResources();
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(453, 347);

    setFont(fontOf("MS Sans Serif", 10));
    const QFont times = fontOf("Times New Roman", 13);
    for (QWidget* w : std::initializer_list<QWidget*>{ui->Label1, ui->Label2, ui->Label3,
                                                      ui->Label4, ui->DirectoryName,
                                                      ui->DirectoryListBox1, ui->FileListBox1})
        w->setFont(times);
    ui->DriveComboBox1->setFont(fontOf("MS Sans Serif", 15));
    ui->BBOK->setFont(fontOf("細明體", 16));
    ui->BBCancel->setFont(fontOf("細明體", 16));
    ui->BBOK->setIcon(glyph(QStringLiteral("check")));
    ui->BBCancel->setIcon(glyph(QStringLiteral("cross")));

    // The links between the lists: drive list -> directory list -> file list.
    ui->DirectoryListBox1->setFileList(ui->FileListBox1);
    ui->DriveComboBox1->setDirList(ui->DirectoryListBox1);

    OnShow = [this] { FormShow(); };
    OnClose = [this](TForm* sender, CloseAction& action) { FormClose(sender, action); };
    ui->DirectoryListBox1->OnChange = [this] { DirectoryListBox1Change(); };
    ui->FileListBox1->OnDblClick = [this] { BBOKClick(); };
    bindHandler(ui->BBOK, &QPushButton::clicked, this, [this] { BBOKClick(); });
    bindHandler(ui->BBCancel, &QPushButton::clicked, this, [this] { BBCancelClick(); });
    ui->DirectoryName->installEventFilter(this);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

TFormGetPath::~TFormGetPath() {
    // The controls outlive this part of the destruction; none may call back into it.
    ui->DirectoryName->removeEventFilter(this);
    ui->DirectoryListBox1->OnChange = nullptr;
    ui->FileListBox1->OnDblClick = nullptr;
}

QString TFormGetPath::Browse(TForm* owner, const QString& startPath) {
    QPointer<TFormGetPath> dialog = new TFormGetPath(owner);
    QString result;
    // Read and dispose of it however the run ends; a deferred disposal still pending is
    // withdrawn by deleting the dialog here.
    struct Dispose {
        QPointer<TFormGetPath>& dialog;
        QString& result;
        ~Dispose() {
            if (dialog) {
                result = dialog->windowTitle();
                delete dialog.data();
            }
        }
    };
    {
        Dispose dispose{dialog, result};
        dialog->setWindowTitle(startPath);
        dialog->showModal();
    }
    return result;
}

void TFormGetPath::FormShow() {
    ResultPath.clear();
    const QString startPath = windowTitle();
    if (drives::fileExists(startPath))
        ui->DirectoryName->setText(directoryPart(startPath));
    else
        ui->DirectoryName->clear();
    setWindowTitle(QString::fromUtf8("目錄設定"));
    if (!ui->DirectoryName->text().isEmpty())
        ui->DirectoryListBox1->setDirectory(ui->DirectoryName->text());
    else
        ui->DirectoryListBox1->openCurrent();
}

void TFormGetPath::FormClose(TForm*, CloseAction& Action) {
    setWindowTitle(ResultPath);
    Action = CloseAction::Free;
}

void TFormGetPath::DirectoryNameKeyPress(QObject*, QChar& Key) {
    if (Key != QChar(13))
        return;
    ui->FileListBox1->applyFilePath(ui->DirectoryName->text());
    Key = QChar(0);
}

void TFormGetPath::DirectoryListBox1Change() {
    ui->DirectoryName->setText(ui->DirectoryListBox1->directory());
}

void TFormGetPath::BBOKClick() {
    const QString typed = ui->DirectoryName->text();
    if (!typed.isEmpty() && !drives::directoryExists(typed)) {
        if (msgbox::confirm(QString::fromUtf8("目錄不存在，是否建立？")) &&
            !drives::createDirectory(typed)) {
            msgbox::showMessage(QString::fromUtf8("目錄無法建立！"));
            return;
        }
    }
    ResultPath = ui->FileListBox1->fileName();
    close();
}

void TFormGetPath::BBCancelClick() {
    ResultPath.clear();
    close();
}

void TFormGetPath::keyPressEvent(QKeyEvent* event) {
    // Escape that no control took is the cancel button's, wherever the focus is.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        runGuarded([this] { BBCancelClick(); });
        return;
    }
    TForm::keyPressEvent(event);
}

bool TFormGetPath::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->DirectoryName && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (text.size() == 1) {
            QChar key = text[0];
            // Enter is consumed even when applying the typed path failed.
            const bool consumed = key == QChar(13);
            runGuarded([&] { DirectoryNameKeyPress(ui->DirectoryName, key); });
            if (consumed || key.isNull())
                return true;
        }
    }
    return TForm::eventFilter(watched, event);
}
