// Small pieces of the toolkit vocabulary the windows share.
#pragma once

#include <QFrame>
#include <QString>

#include <chrono>
#include <functional>

class QProgressBar;
class QTimer;

// A panel with a caption drawn centred. Only clicks on the panel's own area count: a click on a
// child control goes to that control.
class TPanel : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
public:
    explicit TPanel(QWidget* parent = nullptr);
    QString caption() const { return caption_; }
    void setCaption(const QString& caption);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString caption_;
    bool pressed_ = false;
};

// Enabling an enabled timer changes nothing: its interval is not restarted.
void setTimerEnabled(QTimer* timer, bool enabled);

// Binds the tick handler of a timer. A tick comes as the timer message of the original platform
// does: never before its interval has passed; after the input and painting that arrived
// meanwhile (so a close made during a long job is handled before a tick that fell due); not at
// all when the timer was stopped meanwhile or the program is ending; and also while the
// handler still runs, when it processes events.
void bindTimer(QTimer* timer, QObject* context, std::function<void()> handler);

// A progress bar holds a position set outside its range at the nearest end of it.
void setProgressPosition(QProgressBar* bar, int position);

// The pause between two steps of a job: 10 ms. Tests may shorten it; the program never does.
std::chrono::milliseconds jobStepPause();
void setJobStepPause(std::chrono::milliseconds pause);
void pauseJobStep();
