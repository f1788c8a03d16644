#include "LinkDetail.h"

#include "DialogSupport.h"
#include "Fonts.h"
#include "Memo.h"
#include "RegistryAccessor.h"
#include "ui_LinkDetail.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLabel>

#include <stdexcept>

namespace {

constexpr int parameterCount = 18;

QString valueName(int number) {
    return QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

void setBaseColour(QWidget* memo, const QColor& colour) {
    QPalette palette = memo->palette();
    palette.setColor(QPalette::Base, colour);
    memo->setPalette(palette);
}

} // namespace

TFormLinkDetail::TFormLinkDetail(QObject* owner) : TForm(owner), ui(new Ui::FormLinkDetail) {
    ui->setupUi(this);
    applyPixelFonts(this);
    attachDialogToOwner(this, owner);
    for (int n = 1; n <= parameterCount; ++n) {
        parameterMemo(n)->installEventFilter(this);
        // The label beside each memo shows its number.
        const QString number = QStringLiteral("%1").arg(n, 2, 10, QChar('0'));
        if (auto label = qobject_cast<QLabel*>(findComponent(this, "Label" + QString::number(n))))
            label->setBuddy(parameterMemo(n));
        parameterMemo(n)->setAccessibleName(QStringLiteral("Parameter ") + number);
    }
    OnShow = [this] { FormShow(); };
    OnClose = [this](TForm* sender, CloseAction& action) { FormClose(sender, action); };
    centreOnScreen(this);
    ui->Memo1->setFocus();
}

TFormLinkDetail::~TFormLinkDetail() = default;

QPlainTextEdit* TFormLinkDetail::parameterMemo(int number) const {
    auto memo =
        qobject_cast<QPlainTextEdit*>(findComponent(this, "Memo" + QString::number(number)));
    if (!memo)
        throw std::logic_error("missing parameter memo " + std::to_string(number));
    return memo;
}

// When the slot key cannot be opened (removed from outside), nothing is loaded: the first
// write raises "Failed to set data for '01'" and every memo stays disabled. A close then
// writes nothing, so the key is never recreated and nothing lands elsewhere. Memos after a
// load error stay disabled and unsaved likewise, so that closing cannot overwrite parameters
// that were never shown with empty texts.
void TFormLinkDetail::FormShow() {
    activateWindow();
    keyPath_ = windowTitle();
    reg_ = std::make_unique<RegistryAccessor>();
    loaded_ = 0;
    for (int n = 1; n <= parameterCount; ++n)
        parameterMemo(n)->setEnabled(false);
    reg_->openKey(keyPath_, false);
    for (int n = 1; n <= parameterCount; ++n) {
        const QString name = valueName(n);
        if (!reg_->valueExists(name))
            reg_->writeString(name, QString());
        QPlainTextEdit* memo = parameterMemo(n);
        stored_[n - 1] = reg_->readData(name);
        loadMemo(memo, stored_[n - 1] ? RegistryAccessor::textOf(*stored_[n - 1]) : QString());
        memo->setEnabled(true);
        loaded_ = n;
    }
    ui->Memo1->setFocus();
}

void TFormLinkDetail::FormClose(TForm*, CloseAction&) {
    // After a failed save the accessor is gone and the user has been told: a further close
    // lets the dialog go without writing, rather than keeping it open for good.
    const std::unique_ptr<RegistryAccessor> reg = std::move(reg_);
    if (!reg)
        return;
    // A memo the user did not edit gives back exactly the bytes it was loaded from.
    for (int n = 1; n <= loaded_; ++n) {
        QPlainTextEdit* memo = parameterMemo(n);
        if (!memoEdited(memo) && stored_[n - 1])
            reg->writeData(valueName(n), *stored_[n - 1]);
        else
            reg->writeString(valueName(n), memoText(memo));
    }
}

bool TFormLinkDetail::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        Memo1Enter(watched);
    } else if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            Memo1Exit(watched);
    }
    return TForm::eventFilter(watched, event);
}

void TFormLinkDetail::Memo1Enter(QObject* sender) {
    auto memo = static_cast<QWidget*>(sender);
    setBaseColour(memo, QColor(0, 255, 255));
    memo->resize(memo->width(), 120);
    memo->raise();
}

void TFormLinkDetail::Memo1Exit(QObject* sender) {
    auto memo = static_cast<QWidget*>(sender);
    setBaseColour(memo, QApplication::palette(memo).color(QPalette::Base));
    memo->resize(memo->width(), 24);
    memo->raise();
}
