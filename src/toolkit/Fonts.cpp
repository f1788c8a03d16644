#include "Fonts.h"

#include <QFont>
#include <QStringList>
#include <QVariant>
#include <QWidget>

void installFontSubstitutions() {
    QFont::insertSubstitutions(
        QStringLiteral("MS Sans Serif"),
        QStringList{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(
        QStringLiteral("Times New Roman"),
        QStringList{QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});
    QFont::insertSubstitutions(
        QString::fromUtf8("細明體"),
        QStringList{QStringLiteral("AR PL UMing TW"), QStringLiteral("AR PL UMing CN")});
}

void applyPixelFonts(QWidget* root) {
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        const QVariant px = w->property("pixelFontSize");
        if (!px.isValid())
            continue;
        QFont font = w->font();
        font.setPixelSize(px.toInt());
        w->setFont(font);
    }
}
