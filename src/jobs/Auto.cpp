#include "Auto.h"

#include "Controls.h"
#include "Fonts.h"
#include "TimeFormat.h"
#include "ui_Auto.h"

#include <QEvent>
#include <QTimer>

TFormAuto::TFormAuto(QObject* owner) : TForm(owner), ui_(std::make_unique<Ui::FormAuto>()) {
    ui_->setupUi(this);
    move(390, 149); // the form description sets the size only
    ToolBar0 = ui_->ToolBar0;
    ProgressBar0 = ui_->ProgressBar0;
    Memo0 = ui_->Memo0;
    Panel0 = ui_->Panel0;
    STStart = ui_->STStart;
    STEnd = ui_->STEnd;
    ListBox0 = ui_->ListBox0;
    // The list is declared last but sits between the tool bar and the memo when shown.
    ui_->FormAutoLayout->removeWidget(ListBox0);
    ui_->FormAutoLayout->insertWidget(1, ListBox0);

    applyPixelFonts(this);

    Timer0 = new QTimer(this);
    Timer0->setObjectName(QStringLiteral("Timer0"));
    Timer0->setInterval(2000);

    OnShow = [this] { FormShow(this); };
    ToolBar0->installEventFilter(this);
    bindTimer(Timer0, this, [this] { Timer0Timer(Timer0); });
    bindHandler(Panel0, &TPanel::clicked, this, [this] { Panel0Click(Panel0); });
}

TFormAuto::~TFormAuto() = default;

bool TFormAuto::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ToolBar0 && event->type() == QEvent::Resize)
        ToolBar0Resize(ToolBar0);
    return TForm::eventFilter(watched, event);
}

void TFormAuto::FormShow(QObject*) {}

void TFormAuto::ToolBar0Resize(QObject*) {
    ProgressBar0->resize(ToolBar0->width(), ProgressBar0->height());
}

void TFormAuto::Timer0Timer(QObject*) {
    setTimerEnabled(Timer0, false);
    Panel0Click(Panel0);
}

void TFormAuto::Panel0Click(QObject*) {
    STStart->setText(QStringLiteral("Start : ") + formatTimeOfDay(QTime::currentTime()));
    setProgressPosition(ProgressBar0, 0);
    ProgressBar0->setMaximum(1000);
    // No events are processed while the job runs: the whole program waits for it.
    for (int step = 0; step < 1000; ++step) {
        setProgressPosition(ProgressBar0, ProgressBar0->value() + 1);
        pauseJobStep();
    }
    STEnd->setText(QStringLiteral("End   : ") + formatTimeOfDay(QTime::currentTime()));
}
