#include "Halvorn.h"

#include "ui_Halvorn.h"

#include "Controls.h"
#include "Error.h"
#include "Fonts.h"
#include "JobClassRegistry.h"
#include "LinkFile.h"
#include "MessageBox.h"
#include "RegistryAccessor.h"
#include "Tiling.h"

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

TFormHalvorn* FormHalvorn = nullptr;

// Resources of a static library are registered by hand.
static void initHalvornResources() {
    Q_INIT_RESOURCE(Halvorn);
}

namespace {

QChar slotLetter(int slot) {
    return QChar(64 + slot);
}

// True when `widget` is an embedded job window of `window`, a control in one, or its frame.
bool insideJobWindow(const QWidget* widget, const QWidget* window) {
    for (const QWidget* w = widget; w && w != window; w = w->parentWidget())
        if (qobject_cast<const TForm*>(w) || qobject_cast<const QMdiSubWindow*>(w))
            return true;
    return false;
}

// A window handle: an identity of the window that no later window repeats.
WindowHandle windowHandleOf(QWidget* window) {
    static WindowHandle last = 0;
    QVariant handle = window->property("windowHandle");
    if (!handle.isValid()) {
        handle = QVariant::fromValue(++last);
        window->setProperty("windowHandle", handle);
    }
    return handle.value<WindowHandle>();
}

} // namespace

int virtualKeyCode(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return qtKey; // the same codes, 65 to 90
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 112 + (qtKey - Qt::Key_F1);
    return 0;
}

TFormHalvorn::TFormHalvorn(QObject* owner) : TForm(owner), ui(new Ui::TFormHalvorn) {
    // Handlers that run while the window is built already reach it through the reference.
    FormHalvorn = this;
    initHalvornResources();
    ui->setupUi(this);
    applyPixelFonts(this);
    imageList0_ = {QPixmap(QStringLiteral(":/shell/bulb-lit.xpm")),
                   QPixmap(QStringLiteral(":/shell/bulb-grey.xpm")),
                   QPixmap(QStringLiteral(":/shell/door.xpm"))};
    ui->BBClose->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));

    // The status strip takes no mouse input, but its bulbs are not drawn greyed and its hints
    // still show, so the clicks are dropped instead of disabling the strip.
    for (QToolButton* indicator : ui->ToolBar2->findChildren<QToolButton*>())
        indicator->installEventFilter(this);

    // Errors are caught here, not in the event loop: unwinding through the toolkit's own frames
    // skips their clean-up.
    bindHandler(ui->SB0, &QToolButton::clicked, this, [this] { SB0Click(); });
    bindHandler(ui->SBTile, &QToolButton::clicked, this, [this] { SBTileClick(); });
    bindHandler(ui->SBRun, &QToolButton::clicked, this, [this] { SBRunClick(); });
    // What a screen reader says of the tool bar's buttons: their hint and their key.
    ui->SBRun->setAccessibleDescription(ui->SBRun->toolTip() + QStringLiteral(" (F5)"));
    ui->SBTile->setAccessibleDescription(ui->SBTile->toolTip() + QStringLiteral(" (F6)"));
    connect(ui->BBClose, &QPushButton::clicked, this, [this] { close(); });
    for (QPushButton* button : ui->GBGroup->findChildren<QPushButton*>())
        bindHandler(button, &QPushButton::clicked, this, [this, button] { BBAClick(button); });
    OnClose = [this](TForm* sender, CloseAction& action) { FormClose(sender, action); };

    // Key preview: the window sees key presses for its own controls before they do.
    qApp->installEventFilter(this);

    runGuarded([this] { FormCreate(); });

    // The window's children take the tab order GBGroup (the slot buttons in letter order),
    // PanelTop, GBSplitter; the focus starts on the first control in it that can take it. The
    // toolkit's own chain follows the order of construction, which starts with PanelTop.
    QList<QWidget*> tabOrder;
    for (int n = 1; n <= SlotCount; ++n)
        tabOrder << qobject_cast<QWidget*>(
            findComponent(this, QStringLiteral("BB") + slotLetter(n)));
    tabOrder << ui->BBClose << ui->GBSplitter;
    for (QWidget* control : tabOrder)
        if (control && control->isEnabled() && (control->focusPolicy() & Qt::TabFocus)) {
            control->setFocus(Qt::TabFocusReason);
            break;
        }
}

TFormHalvorn::~TFormHalvorn() {
    if (FormHalvorn == this)
        FormHalvorn = nullptr;
}

QMdiArea* TFormHalvorn::workArea() const {
    return ui->GBSplitter;
}

void TFormHalvorn::FormCreate() {
    rootKeyName_ = QStringLiteral("Quorvane");
    jobClassPrefix_ = QStringLiteral("TFormAuto");
    slotHandles_.fill(0);

    RegistryAccessor registry;
    bool storeUsable = runGuarded([] { RegistryAccessor::checkStore(); });

    // First start: no settings yet, so the setup dialog runs before anything is labelled.
    bool setupOk = true;
    if (storeUsable && !registry.keyExists(rootKeyName_))
        setupOk = runGuarded([this] { runLinkSetup(); });

    for (int n = 1; n <= SlotCount; ++n) {
        const QChar letter = slotLetter(n);
        registry.openKeyReadOnly(rootKeyName_ + QLatin1Char('\\') + letter);
        const QString title = registry.readString(QStringLiteral("Title"));
        auto button =
            qobject_cast<QAbstractButton*>(findComponent(this, QStringLiteral("BB") + letter));
        button->setText(title);
        button->setEnabled(!title.isEmpty());
        // A screen reader names the button by its title, and a slot without one by its letter.
        button->setAccessibleDescription(QStringLiteral("Slot %1, Ctrl+%1").arg(letter));
        if (title.trimmed().isEmpty())
            button->setAccessibleName(QStringLiteral("Slot %1").arg(letter));
        auto indicator = qobject_cast<QWidget*>(findComponent(this, QStringLiteral("SB") + letter));
        indicator->setToolTip(title);
        registry.closeKey();
    }

    if (!setupOk)
        return;
    for (QObject* child : ui->ToolBar2->children())
        if (auto indicator = qobject_cast<QAbstractButton*>(child))
            SetStatusGlyph(1, indicator);
}

void TFormHalvorn::SetStatusGlyph(int imageIndex, QAbstractButton* indicator) {
    QPixmap glyph(16, 16);
    glyph.fill(Qt::transparent);
    {
        QPainter painter(&glyph);
        painter.drawPixmap(0, 0, 16, 16, image(imageIndex));
    }
    indicator->setIcon(QIcon(glyph));
}

void TFormHalvorn::SB0Click() {
    if (ui->SB0->text() == QLatin1String("Hide")) {
        ui->SB0->setText(QStringLiteral("Show"));
        ui->GBGroup->hide();
    } else {
        ui->SB0->setText(QStringLiteral("Hide"));
        ui->GBGroup->show();
    }
    // The work area takes the freed height before the job windows are laid out again.
    layout()->activate();
    retile();
}

void TFormHalvorn::SBTileClick() {
    retile();
}

void TFormHalvorn::FormResize() {
    retile();
}

void TFormHalvorn::retile() {
    // Reached through the main-window reference, as the close hook and tiling of every window are.
    if (FormHalvorn)
        tileVertically(FormHalvorn->workArea());
}

void TFormHalvorn::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
    const bool ctrl = shift.testFlag(Qt::ControlModifier);
    if (ctrl && key >= 65 && key <= 90)
        BBAClick(findComponent(this, QStringLiteral("BB") + QChar(key)));
    if (ctrl && key == 121)
        runLinkSetup();
    // Run and Tile take no focus: plain F5 and F6 press them. (Hide has no key: with the slot
    // buttons hidden the focus can only be in the work area, where keys belong to the job windows,
    // so no key could show them again.)
    if (shift == Qt::NoModifier && key == 116)
        SBRunClick();
    if (shift == Qt::NoModifier && key == 117)
        SBTileClick();
}

void TFormHalvorn::BBAClick(QObject* sender) {
    const int n = tagOf(sender);
    const QString jobName = jobClassPrefix_ + QChar(64 + n);
    const JobClass jobClass = FindJobClass(jobName);
    if (!jobClass) {
        msgbox::showMessage(QString::fromUtf8("程式尚未建立！"));
        return;
    }
    if (findComponent(this, jobName))
        return;

    // An error in the constructor leaves nothing behind: the half-built window is gone.
    QObject* created = ConstructJobClass(jobClass, this);
    auto job = qobject_cast<TForm*>(created);
    if (!job) {
        delete created;
        throw Error(QStringLiteral("Cannot create %1").arg(jobName));
    }

    const QStringList captionLines{jobName};
    const QString caption = captionLines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    // From here an error leaves the window created, hidden and owned.
    job->setTag(n);
    if (job->tag() < 1 || job->tag() > SlotCount)
        throw Error(QStringLiteral("Range check error"));
    slotHandles_[static_cast<size_t>(job->tag())] = windowHandleOf(job);
    job->setObjectName(jobName);
    job->setWindowTitle(caption);
    QPointer<TFormHalvorn> mainWindow = FormHalvorn;
    job->OnClose = [mainWindow](TForm* closing, CloseAction& action) {
        if (mainWindow)
            mainWindow->FormClose(closing, action);
    };
    embedInWorkArea(job);
    if (auto list = qobject_cast<QListWidget*>(findComponent(job, QStringLiteral("ListBox0"))))
        list->addItem(jobName);

    job->parentWidget()->show();
    job->show(); // an error in its show handler is reported there; the window is shown all the same

    if (auto indicator = qobject_cast<QAbstractButton*>(
            findComponent(this, QStringLiteral("SB") + jobName.back())))
        SetStatusGlyph(0, indicator);
    retile();
}

void TFormHalvorn::FormClose(TForm* sender, CloseAction& action) {
    const QString name = sender->objectName();
    if (!name.contains(jobClassPrefix_, Qt::CaseSensitive))
        return;
    if (auto indicator =
            qobject_cast<QAbstractButton*>(findComponent(this, QStringLiteral("SB") + name.back())))
        SetStatusGlyph(1, indicator);
    const int n = sender->tag();
    if (n < 1 || n > SlotCount)
        throw Error(QStringLiteral("Range check error"));
    slotHandles_[static_cast<size_t>(n)] = 0;
    action = CloseAction::Free;
}

void TFormHalvorn::SBRunClick() {
    const QPointer<TFormHalvorn> self(this);
    for (int n = 1; n <= SlotCount; ++n) {
        // Timer ticks (whole jobs), opens, closes and another "Run" may all happen in here.
        QCoreApplication::processEvents();
        if (!self || programEnding())
            return;
        if (slotHandles_[static_cast<size_t>(n)] == 0)
            continue;
        QObject* job = findComponent(this, jobClassPrefix_ + slotLetter(n));
        if (!job)
            continue;
        if (auto timer = qobject_cast<QTimer*>(findComponent(job, QStringLiteral("Timer0"))))
            setTimerEnabled(timer, true);
        auto list = qobject_cast<QListWidget*>(findComponent(job, QStringLiteral("ListBox0")));
        if (list && list->count() > 0)
            if (QObject* panel = findComponent(job, QStringLiteral("Panel0")))
                panel->setProperty("caption", list->item(0)->text());
    }
}

void TFormHalvorn::embedInWorkArea(TForm* job) {
    auto frame = new QMdiSubWindow;
    frame->setWidget(job);
    workArea()->addSubWindow(frame);
    // The frame belongs to the job window: it goes when the window is freed, by whatever route.
    connect(job, &QObject::destroyed, frame, &QObject::deleteLater);
}

void TFormHalvorn::runLinkSetup() {
    const std::unique_ptr<TFormLinkFile> dialog = std::make_unique<TFormLinkFile>(this);
    dialog->showModal();
}

bool TFormHalvorn::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        if (watched->parent() == ui->ToolBar2)
            return true;
        break;
    case QEvent::KeyPress:
        // A key press reaches the window's system window first, exactly once, and goes from
        // there to the focused control: previewed here, it is seen once per press however it
        // travels on and whatever other windows receive meanwhile. The key is not consumed.
        if (watched == static_cast<QObject*>(windowHandle()) &&
            !insideJobWindow(QApplication::focusWidget(), this)) {
            auto key = static_cast<QKeyEvent*>(event);
            if (int code = virtualKeyCode(key->key()))
                runGuarded([&] { FormKeyDown(code, key->modifiers()); });
        }
        break;
    default:
        break;
    }
    return TForm::eventFilter(watched, event);
}

void TFormHalvorn::resizeEvent(QResizeEvent* event) {
    TForm::resizeEvent(event);
    FormResize();
}
