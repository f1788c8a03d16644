#include "Form.h"

#include "Error.h"
#include "MessageBox.h"

#include <QCloseEvent>
#include <QEventLoop>
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

} // namespace

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
    if (OnShow && !event->spontaneous())
        runGuarded(OnShow); // an error while showing is reported; the window is shown all the same
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
    if (modalLoop_)
        modalLoop_->quit();
    if (action == CloseAction::Free)
        deleteLater();
}
