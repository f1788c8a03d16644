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

void usePixelFonts(QWidget* root) {
    QList<QWidget*> widgets{root};
    widgets += root->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (!widget->testAttribute(Qt::WA_SetFont))
            continue;
        QFont font = widget->font();
        if (font.pointSizeF() <= 0)
            continue;
        font.setPixelSize(qRound(font.pointSizeF() * 96.0 / 72.0));
        widget->setFont(font);
    }
}
