#include "DialogSupport.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void attachDialogToOwner(QWidget* dialog, QObject* owner) {
    if (auto ownerWidget = qobject_cast<QWidget*>(owner))
        dialog->setParent(ownerWidget, dialog->windowFlags() | Qt::Dialog);
}

void centreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}
