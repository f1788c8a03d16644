// The form: a window with an owner, a tag, show and close events that handlers can be bound to,
// and a modal run. "Owner" (who frees the window and finds it by name) and Qt's parent (the
// visual container) are separate ideas: a job window is owned by the main window but lives in
// its work area.
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>

class QEventLoop;

enum class CloseAction { None, Hide, Free, Minimize };

// The integer tag of any component, kept as the dynamic property "tag".
int tagOf(const QObject* component);
void setTag(QObject* component, int tag);

// The component named `name` (without regard to letter case) among the components `owner`
// owns: the controls of its own layout (not those inside the forms it holds) and the forms it
// owns. Nullptr when there is none.
QObject* findComponent(const QObject* owner, const QString& name);

// Runs `handler`; an error escaping it is shown in the standard error box. True when it ended
// normally.
bool runGuarded(const std::function<void()>& handler);

// The application's main form: closing it ends the program. Loops that process pending events
// and timer ticks ask `programEnding()` and stop, so the program ends at once instead of after
// the work they were doing.
void setMainForm(QWidget* form);
bool programEnding();

// Binds a handler to a signal of `sender`. An error escaping the handler is shown in the error
// box there and never unwinds through the toolkit's frames.
template <typename Sender, typename Signal, typename Handler>
QMetaObject::Connection bindHandler(Sender* sender, Signal signal, QObject* context,
                                    Handler handler) {
    return QObject::connect(sender, signal, context,
                            [handler = std::move(handler)] { runGuarded(handler); });
}

class TForm : public QWidget {
    Q_OBJECT
public:
    using CloseHandler = std::function<void(TForm* sender, CloseAction& action)>;

    explicit TForm(QObject* owner = nullptr);
    ~TForm() override;

    QObject* owner() const { return owner_; }
    const QList<QPointer<TForm>>& ownedForms() const { return owned_; }
    int tag() const { return tagOf(this); }
    void setTag(int tag) { ::setTag(this, tag); }

    // The event handlers. A form binds its own in its constructor; others may replace them.
    std::function<void()> OnShow;
    CloseHandler OnClose;

    // Shows the form modally and returns when it has closed (hidden, not freed).
    void showModal();
    bool isModalRunning() const { return modalLoop_ != nullptr; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QPointer<QObject> owner_;
    QList<QPointer<TForm>> owned_;
    QEventLoop* modalLoop_ = nullptr;
    // Hidden by its frame (a minimised or shaded sub-window), not by the program: showing it
    // again is a restore, not a new showing.
    bool hiddenByFrame_ = false;
};
