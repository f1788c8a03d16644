#include "AutoQ.h"

#include "Ado.h"
#include "Controls.h"
#include "TimeFormat.h"
#include "ui_AutoQ.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHeaderView>
#include <QMdiSubWindow>
#include <QPointer>
#include <QShowEvent>
#include <QTimer>

QStringList splitCaptionLines(const QString& caption) {
    QStringView text(caption);
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text = text.left(nul);
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines << text.mid(start, i - start).toString();
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start).toString();
    return lines;
}

namespace {

const QString kDefaultConnectionString =
    QStringLiteral("Provider=MSDASQL.1;Password=qmwt;Persist Security Info=True;User ID=KOVADB;"
                   "Data Source=KOVADB2");

template <typename T> T* component(QObject* parent, const char* name) {
    auto* object = new T(parent);
    object->setObjectName(QLatin1String(name));
    return object;
}

QTimer* timer(QObject* parent, const char* name, int interval) {
    auto* t = component<QTimer>(parent, name);
    t->setInterval(interval);
    return t;
}

TADOConnection* connection(QObject* parent, const char* name) {
    auto* c = component<TADOConnection>(parent, name);
    c->setConnectionString(kDefaultConnectionString);
    c->setProvider(QStringLiteral("MSDASQL.1"));
    c->setLoginPrompt(false);
    return c;
}

} // namespace

TFormAutoQ::TFormAutoQ(QObject* owner) : TForm(owner), ui_(std::make_unique<Ui::FormAutoQ>()) {
    // The members come to life in their declared order; a missing ODBC driver fails the creation
    // at the first database object, before the layout is built.
    DSSource = component<TDataSource>(this, "DSSource");
    ADODataSetSource = component<TADODataSet>(this, "ADODataSetSource");
    ADOCommandSource = component<TADOCommand>(this, "ADOCommandSource");
    ui_->setupUi(this);
    ToolBar0 = ui_->ToolBar0;
    ProgressBar0 = ui_->ProgressBar0;
    Memo0 = ui_->Memo0;
    DBSource = ui_->DBSource;
    Panel0 = ui_->Panel0;
    DBTarget = ui_->DBTarget;
    SBRun = ui_->SBRun;
    DSTarget = component<TDataSource>(this, "DSTarget");
    ADODataSetTarget = component<TADODataSet>(this, "ADODataSetTarget");
    ADOCommandTarget = component<TADOCommand>(this, "ADOCommandTarget");
    Timer0 = timer(this, "Timer0", 10);
    ADOConnectionSource = connection(this, "ADOConnectionSource");
    ADOConnectionTarget = connection(this, "ADOConnectionTarget");
    Timer1 = timer(this, "Timer1", 100);

    ADODataSetSource->setConnection(ADOConnectionSource);
    ADOCommandSource->setConnection(ADOConnectionSource);
    ADODataSetTarget->setConnection(ADOConnectionTarget);
    ADOCommandTarget->setConnection(ADOConnectionTarget);
    DSSource->setDataSet(ADODataSetSource);
    DSTarget->setDataSet(ADODataSetTarget);
    DBSource->setModel(DSSource->model());

    move(410, 379);
    QFont windowFont(QStringLiteral("MS Sans Serif"));
    windowFont.setPixelSize(11);
    setFont(windowFont);
    DBSource->horizontalHeader()->setFont(windowFont);

    OnShow = [this] { FormShow(); };
    ToolBar0->installEventFilter(this);
    bindTimer(Timer0, this, [this] { Timer0Timer(Timer0); });
    bindTimer(Timer1, this, [this] { Timer1Timer(Timer1); });
    bindHandler(SBRun, &QToolButton::clicked, this, [this] { SBRunClick(SBRun); });
}

TFormAutoQ::~TFormAutoQ() = default;

bool TFormAutoQ::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ToolBar0 && event->type() == QEvent::Resize)
        ToolBar0Resize(ToolBar0);
    return TForm::eventFilter(watched, event);
}

void TFormAutoQ::showEvent(QShowEvent* event) {
    if (!event->spontaneous() && !outerSizeApplied_) {
        outerSizeApplied_ = true;
        applyOuterSize();
    }
    TForm::showEvent(event);
}

// The layout gives the size of the client area; the form's size is that of its frame, whether it
// stands alone or in a frame of the work area. Later showings keep whatever size it was given.
void TFormAutoQ::applyOuterSize() {
    if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        frame->resize(kOuterSize);
        return;
    }
    // Alone, only a size still as the layout set it becomes the outer one.
    if (isWindow() && size() == kOuterSize) {
        const QSize decoration = frameGeometry().size() - size();
        resize(kOuterSize - decoration);
    }
}

void TFormAutoQ::FormShow() {
    runFlag_ = false;
    const QStringList lines = splitCaptionLines(windowTitle());
    if (lines.size() >= 1)
        setWindowTitle(lines[0]);
    if (lines.size() >= 2)
        ADOConnectionSource->setConnectionString(lines[1]);
    if (lines.size() >= 3)
        ADOConnectionTarget->setConnectionString(lines[2]);
    if (lines.size() >= 4)
        ADODataSetSource->setCommandText(lines[3]);
    // A source that fails raises here, so the target is not tried.
    ADOConnectionSource->setConnected(!ADOConnectionSource->ConnectionString().isEmpty());
    ADOConnectionTarget->setConnected(!ADOConnectionTarget->ConnectionString().isEmpty());
}

void TFormAutoQ::ToolBar0Resize(QObject*) {
    ProgressBar0->resize(ToolBar0->width(), ProgressBar0->height());
}

void TFormAutoQ::Timer0Timer(QObject*) {
    setTimerEnabled(Timer0, false);
    setTimerEnabled(Timer1, true);
    QCoreApplication::processEvents(); // may free this window: nothing may follow
}

void TFormAutoQ::Timer1Timer(QObject*) {
    Panel0->setCaption(formatTimeOfDay(QTime::currentTime()));
    if (!runFlag_)
        SBRunClick(nullptr); // may free this window: nothing may follow
}

void TFormAutoQ::SBRunClick(QObject*) {
    runFlag_ = true;
    setProgressPosition(ProgressBar0, 0);
    ProgressBar0->setMaximum(1000);
    // The events processed on each step may close this window (its close action frees it) or
    // free its owner with it. A close stops the run rather than waiting for it: the window is
    // gone at once and its slot free again, instead of a hidden window finishing a job nobody
    // sees. So after every event processing the run looks whether the window still exists and
    // then returns without touching it; the callers above it touch nothing after the run either.
    const QPointer<TFormAutoQ> alive(this);
    for (int step = 0; step < 1000; ++step) {
        QCoreApplication::processEvents();
        if (!alive || programEnding()) // closing the main window ends the program at once
            return;
        setProgressPosition(ProgressBar0, ProgressBar0->value() + 1);
        pauseJobStep();
    }
}
