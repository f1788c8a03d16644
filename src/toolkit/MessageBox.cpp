#include "MessageBox.h"

#include "AppTitle.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace msgbox {
namespace {

Hook& hook() {
    static Hook h;
    return h;
}

Answer show(Kind kind, const QString& caption, const QString& text) {
    if (hook())
        return hook()({kind, caption, text});
    QMessageBox box(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                      : QApplication::activeWindow());
    box.setWindowTitle(caption);
    box.setText(text);
    switch (kind) {
    case Kind::Error:
        box.setIcon(QMessageBox::Critical);
        box.addButton(QMessageBox::Ok);
        break;
    case Kind::Message:
        box.setIcon(QMessageBox::NoIcon);
        box.addButton(QMessageBox::Ok);
        break;
    case Kind::Confirm: {
        box.setIcon(QMessageBox::Question);
        QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? Answer::Yes : Answer::No;
    }
    }
    box.exec();
    return Answer::Ok;
}

} // namespace

QString errorText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void showError(const QString& message) {
    show(Kind::Error, applicationTitle(), errorText(message));
}

void showMessage(const QString& text) {
    show(Kind::Message, applicationTitle(), text);
}

bool confirm(const QString& text) {
    return show(Kind::Confirm, QStringLiteral("Confirm"), text) == Answer::Yes;
}

void setHook(Hook h) {
    hook() = std::move(h);
}

} // namespace msgbox
