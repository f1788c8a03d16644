#include "LinkFile.h"

#include "DialogSupport.h"
#include "Fonts.h"
#include "GetPath.h"
#include "LinkDetail.h"
#include "Memo.h"
#include "RegistryAccessor.h"
#include "ui_LinkFile.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QStyle>

#include <stdexcept>

namespace {

constexpr int slotCount = 26;

QChar slotLetter(int slot) {
    return QChar(64 + slot);
}

template <class T> T* control(const QObject* owner, const QString& name) {
    auto found = qobject_cast<T*>(findComponent(owner, name));
    if (!found)
        throw std::logic_error("missing control " + name.toStdString());
    return found;
}

} // namespace

// Outside any namespace: the macro declares the resource initialiser of this library.
static void initResources() {
    Q_INIT_RESOURCE(config);
}

TFormLinkFile::TFormLinkFile(QObject* owner) : TForm(owner), ui(new Ui::FormLinkFile) {
    initResources();
    ui->setupUi(this);
    applyPixelFonts(this);
    attachDialogToOwner(this, owner);
    ui->BBClose->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    for (QLabel* label : findChildren<QLabel*>())
        label->resize(label->sizeHint().width(), label->height());

    for (int n = 1; n <= slotCount; ++n) {
        const QChar letter = slotLetter(n);
        titleMemo(n)->installEventFilter(this);
        auto detail = detailButton(n);
        bindHandler(detail, &QToolButton::clicked, this, [this, detail] { SB01Click(detail); });
        auto browse = browseButton(n);
        bindHandler(browse, &QToolButton::clicked, this, [this, browse] { SBAClick(browse); });

        // What a screen reader says of the row. The row letter's label stands beside the title.
        control<QLabel>(this, QStringLiteral("Label") + letter)->setBuddy(titleMemo(n));
        titleMemo(n)->setAccessibleName(QStringLiteral("Title of slot %1").arg(letter));
        fileNameField(n)->setAccessibleName(QStringLiteral("File of slot %1").arg(letter));
        detail->setAccessibleName(QStringLiteral("Parameters of slot %1").arg(letter));
        detail->setToolTip(detail->accessibleName() + QStringLiteral(" (F2)"));
        browse->setAccessibleName(QStringLiteral("Browse for the file of slot %1").arg(letter));
        browse->setToolTip(browse->accessibleName() + QStringLiteral(" (F4)"));
    }
    // The row buttons take no focus; these keys press them for the row that has the focus.
    auto rowKey = [this](Qt::Key key, QToolButton* (TFormLinkFile::*button)(int) const) {
        auto shortcut = new QShortcut(QKeySequence(key), this);
        bindHandler(shortcut, &QShortcut::activated, this, [this, button] {
            const int slot = focusedRow();
            if (slot == 0)
                return;
            QToolButton* pressed = (this->*button)(slot);
            if (pressed->isEnabled())
                pressed->click();
        });
    };
    rowKey(Qt::Key_F2, &TFormLinkFile::detailButton);
    rowKey(Qt::Key_F4, &TFormLinkFile::browseButton);
    connect(ui->BBClose, &QPushButton::clicked, this, &QWidget::close);
    bindHandler(ui->Button1, &QPushButton::clicked, this, [this] { Button1Click(ui->Button1); });
    OnClose = [this](TForm* sender, CloseAction& action) { FormClose(sender, action); };

    centreOnScreen(this);
    ui->BBClose->setFocus();

    // An error while loading is reported and the dialog still opens with the rows loaded so far.
    // The rows it never loaded are disabled and not saved: saving them would overwrite stored
    // titles and file names with empty texts.
    runGuarded([this] { FormCreate(); });
    for (int n = rowsLoaded_ + 1; n <= slotCount; ++n) {
        titleMemo(n)->setEnabled(false);
        fileNameField(n)->setEnabled(false);
        browseButton(n)->setEnabled(false);
    }
}

TFormLinkFile::~TFormLinkFile() = default;

QString TFormLinkFile::slotKey(int slot) const {
    return keyName_ + QLatin1Char('\\') + slotLetter(slot);
}

QPlainTextEdit* TFormLinkFile::titleMemo(int slot) const {
    return control<QPlainTextEdit>(this, QStringLiteral("Memo") + slotLetter(slot));
}

QLineEdit* TFormLinkFile::fileNameField(int slot) const {
    return control<QLineEdit>(this, QStringLiteral("ExeName") + slotLetter(slot));
}

QToolButton* TFormLinkFile::detailButton(int slot) const {
    return control<QToolButton>(this, QStringLiteral("SB%1").arg(slot, 2, 10, QChar('0')));
}

QToolButton* TFormLinkFile::browseButton(int slot) const {
    return control<QToolButton>(this, QStringLiteral("SB") + slotLetter(slot));
}

int TFormLinkFile::focusedRow() const {
    const QWidget* focused = focusWidget();
    for (int n = 1; focused && n <= slotCount; ++n)
        if (focused == titleMemo(n) || focused == fileNameField(n))
            return n;
    return 0;
}

void TFormLinkFile::openSlotKey(RegistryAccessor& reg, int slot) const {
    // A failed open would leave the previous key current and the writes would land there.
    if (!reg.openKey(slotKey(slot), false))
        reg.closeKey();
}

void TFormLinkFile::FormCreate() {
    keyName_ = QStringLiteral("Quorvane");
    RegistryAccessor reg;
    if (!reg.keyExists(keyName_)) {
        for (int n = 1; n <= slotCount; ++n) {
            reg.openKey(keyName_, true);
            if (!reg.keyExists(slotKey(n)))
                reg.createKey(slotKey(n));
            openSlotKey(reg, n);
            reg.writeString(QStringLiteral("Title"), QStringLiteral("Function ") + slotLetter(n));
            reg.writeString(QStringLiteral("FileName"), QString());
            reg.closeKey();
        }
    }
    for (int n = 1; n <= slotCount; ++n) {
        reg.openKey(keyName_, true);
        if (!reg.keyExists(slotKey(n)))
            reg.createKey(slotKey(n));
        openSlotKey(reg, n);
        Row& row = rows_[n - 1];
        row.title = reg.readData(QStringLiteral("Title"));
        row.fileName = reg.readData(QStringLiteral("FileName"));
        reg.closeKey();
        loadMemo(titleMemo(n), row.title ? RegistryAccessor::textOf(*row.title) : QString());
        loadField(fileNameField(n),
                  row.fileName ? RegistryAccessor::textOf(*row.fileName) : QString());
        rowsLoaded_ = n;
    }
}

namespace {

// A control the user did not edit gives back exactly the bytes it was loaded from, so that
// looking at a value never changes it; an edited one gives what the user typed.
void writeRowValue(RegistryAccessor& reg, const QString& name, bool edited, const QString& text,
                   const std::optional<QByteArray>& stored) {
    if (!edited && stored)
        reg.writeData(name, *stored);
    else
        reg.writeString(name, text);
}

} // namespace

void TFormLinkFile::FormClose(TForm*, CloseAction&) {
    // A store that cannot be written fails every close the same way; once the user has been
    // told, the next close lets the dialog go without writing.
    if (saveFailed_)
        return;
    RegistryAccessor reg;
    try {
        for (int n = 1; n <= rowsLoaded_; ++n) {
            const Row& row = rows_[n - 1];
            openSlotKey(reg, n);
            QPlainTextEdit* memo = titleMemo(n);
            writeRowValue(reg, QStringLiteral("Title"), memoEdited(memo), memoText(memo),
                          row.title);
            QLineEdit* field = fileNameField(n);
            writeRowValue(reg, QStringLiteral("FileName"), fieldEdited(field), fieldText(field),
                          row.fileName);
            reg.closeKey();
        }
    } catch (...) {
        saveFailed_ = true;
        throw;
    }
}

bool TFormLinkFile::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        MemoAEnter(watched);
    } else if (event->type() == QEvent::FocusOut) {
        // Another window taking the focus (a box, the detail dialog) does not leave the memo.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            MemoAExit(watched);
    }
    return TForm::eventFilter(watched, event);
}

void TFormLinkFile::MemoAEnter(QObject* sender) {
    auto memo = static_cast<QWidget*>(sender);
    memo->resize(memo->width(), 100);
    memo->raise();
}

void TFormLinkFile::MemoAExit(QObject* sender) {
    auto memo = static_cast<QWidget*>(sender);
    memo->resize(memo->width(), 24);
    memo->raise();
}

void TFormLinkFile::SB01Click(QObject* sender) {
    const std::unique_ptr<TFormLinkDetail> detail = std::make_unique<TFormLinkDetail>(this);
    detail->setWindowTitle(keyName_ + QLatin1Char('\\') + slotLetter(tagOf(sender)));
    detail->showModal();
}

void TFormLinkFile::SBAClick(QObject* sender) {
    // The browse button stands at the right end of the row's file-name field and serves it.
    auto field = qobject_cast<QLineEdit*>(
        findComponent(this, QStringLiteral("ExeName") + slotLetter(tagOf(sender))));
    if (!field)
        return;
    const QString path = TFormGetPath::Browse(this, fieldText(field));
    if (!path.isEmpty())
        field->setText(path);
}

void TFormLinkFile::Button1Click(QObject*) {
    RegistryAccessor reg(KEY_ALL_ACCESS);
    reg.openKeyReadOnly(keyName_); // sets the access mask the save uses
    reg.saveKey(keyName_, QStringLiteral("C:\\") + keyName_);
}
