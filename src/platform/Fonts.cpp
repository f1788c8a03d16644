#include "Fonts.h"

#include <QFont>
#include <QStringList>

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
