#include "Controls.h"

#include "Form.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>

#include <atomic>
#include <thread>

namespace {

// A screen reader reads a panel as a static text: its caption, or, while it shows none, the
// accessible name its form gives it (what the panel is for).
class PanelAccessible : public QAccessibleWidget {
public:
    explicit PanelAccessible(TPanel* panel) : QAccessibleWidget(panel, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override {
        const QString caption = static_cast<TPanel*>(widget())->caption();
        if (t == QAccessible::Name && !caption.isEmpty())
            return caption;
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* panelAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("TPanel") && object && object->isWidgetType())
        return new PanelAccessible(static_cast<TPanel*>(object));
    return nullptr;
}

} // namespace

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
    static const bool factoryInstalled = (QAccessible::installFactory(panelAccessible), true);
    Q_UNUSED(factoryInstalled);
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Raised);
}

void TPanel::setCaption(const QString& caption) {
    if (caption_ == caption)
        return;
    caption_ = caption;
    update();
    // The caption is the panel's name: a job name that appears, a clock that ticks.
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void TPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (caption_.isEmpty())
        return;
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(contentsRect(), Qt::AlignCenter, caption_);
}

void TPanel::mousePressEvent(QMouseEvent* event) {
    // A press a child control left unhandled reaches the panel too; it is not the panel's click.
    if (event->button() == Qt::LeftButton)
        pressed_ = childAt(event->position().toPoint()) == nullptr;
    QFrame::mousePressEvent(event);
}

void TPanel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    QFrame::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}

void setTimerEnabled(QTimer* timer, bool enabled) {
    if (!enabled)
        timer->stop();
    else if (!timer->isActive())
        timer->start();
}

void bindTimer(QTimer* timer, QObject* context, std::function<void()> handler) {
    // A coarse timer may tick up to 5 % early.
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, context, [timer, handler = std::move(handler)] {
        const QPointer<QTimer> alive(timer);
        QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers);
        if (!alive || !alive->isActive() || programEnding())
            return;
        // The toolkit holds a timer's next tick back until its handler returns; registered
        // anew, the timer goes on ticking at the same interval meanwhile.
        alive->start();
        runGuarded(handler);
    });
}

void setProgressPosition(QProgressBar* bar, int position) {
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

namespace {
std::atomic<long long> gStepPauseMs{10};
}

std::chrono::milliseconds jobStepPause() {
    return std::chrono::milliseconds(gStepPauseMs.load());
}

void setJobStepPause(std::chrono::milliseconds pause) {
    gStepPauseMs = pause.count();
}

void pauseJobStep() {
    std::this_thread::sleep_for(jobStepPause());
}
