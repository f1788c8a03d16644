#include "Form.h"

#include "Error.h"
#include "MessageBox.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QVariant>

int tagOf(const QObject* component) {
    return component ? component->property("tag").toInt() : 0;
}

void setTag(QObject* component, int tag) {
    component->setProperty("tag", tag);
}

namespace {

QObject* findAmongChildren(const QObject* parent, const QString& name) {
    for (QObject* child : parent->children()) {
        // Another form's controls belong to that form; a form itself is found through its owner.
        if (qobject_cast<TForm*>(child))
            continue;
        if (child->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return child;
        if (QObject* found = findAmongChildren(child, name))
            return found;
    }
    return nullptr;
}

QPointer<QWidget> gMainForm;
bool gMainFormClosed = false;

// A screen reader announces a window by its role: a form on its own is a frame, and a dialog
// while it runs modally; a form embedded in another window is a pane of it.
class FormAccessible : public QAccessibleWidget {
public:
    explicit FormAccessible(TForm* form) : QAccessibleWidget(form) {}
    QAccessible::Role role() const override {
        const auto form = static_cast<const TForm*>(widget());
        if (!form->isWindow())
            return QAccessible::Client;
        return form->isModalRunning() ? QAccessible::Dialog : QAccessible::Window;
    }
};

QAccessibleInterface* formAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("TForm") && object && object->isWidgetType())
        return new FormAccessible(static_cast<TForm*>(object));
    return nullptr;
}

} // namespace

void setMainForm(QWidget* form) {
    gMainForm = form;
    gMainFormClosed = false;
}

bool programEnding() {
    return gMainFormClosed;
}

QObject* findComponent(const QObject* owner, const QString& name) {
    if (!owner || name.isEmpty())
        return nullptr;
    if (QObject* found = findAmongChildren(owner, name))
        return found;
    if (auto form = qobject_cast<const TForm*>(owner)) {
        for (const QPointer<TForm>& owned : form->ownedForms())
            if (owned && owned->objectName().compare(name, Qt::CaseInsensitive) == 0)
                return owned;
    }
    return nullptr;
}

bool runGuarded(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const Error& e) {
        msgbox::showError(e.message());
    } catch (const std::exception& e) {
        msgbox::showError(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

TForm::TForm(QObject* owner) : QWidget(nullptr), owner_(owner) {
    static const bool factoryInstalled = (QAccessible::installFactory(formAccessible), true);
    Q_UNUSED(factoryInstalled);
    if (auto form = qobject_cast<TForm*>(owner))
        form->owned_.append(this);
}

TForm::~TForm() {
    // An owner frees what it owns, wherever those windows live on screen.
    const QList<QPointer<TForm>> owned = owned_;
    for (const QPointer<TForm>& form : owned)
        delete form.data();
    // A freed form leaves its owner's list (also when its constructor failed).
    if (auto form = qobject_cast<TForm*>(owner_.data()))
        form->owned_.removeAll(this);
}

void TForm::showModal() {
    QEventLoop loop;
    modalLoop_ = &loop;
    setWindowModality(Qt::ApplicationModal);
    show();
    if (isVisible())
        loop.exec(QEventLoop::DialogExec);
    modalLoop_ = nullptr;
    hide();
}

void TForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // A focused push button is pressed by Enter as by Space. Outside a dialog class that is all
    // "auto default" does: there is no dialog-wide default button.
    for (QPushButton* button : findChildren<QPushButton*>())
        if (button->window() == this)
            button->setAutoDefault(true);
    if (hiddenByFrame_) {
        hiddenByFrame_ = false;
        return;
    }
    if (OnShow)
        runGuarded(OnShow); // an error while showing is reported; the window is shown all the same
}

void TForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // A sub-window that is minimised or shaded hides its form and shows it again on restore.
    auto frame = qobject_cast<QMdiSubWindow*>(parentWidget());
    if (!event->spontaneous() && frame && (frame->isMinimized() || frame->isShaded()))
        hiddenByFrame_ = true;
}

void TForm::closeEvent(QCloseEvent* event) {
    CloseAction action = CloseAction::Hide;
    bool ok = true;
    if (OnClose)
        ok = runGuarded([&] { OnClose(this, action); });
    if (!ok || action == CloseAction::None) {
        event->ignore(); // an error while closing keeps the window open
        return;
    }
    event->accept();
    if (this == gMainForm) {
        // Every loop ends, also one that processes events inside a handler.
        gMainFormClosed = true;
        QCoreApplication::exit(0);
    }
    if (modalLoop_)
        modalLoop_->quit();
    if (action == CloseAction::Free)
        deleteLater();
}
