#include "Fonts.h"

#include <QFont>
#include <QString>

void installFontSubstitutions() {
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Times New Roman"),
                               {QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});
    QFont::insertSubstitutions(QString::fromUtf8("細明體"),
                               {QStringLiteral("AR PL UMing TW"), QStringLiteral("AR PL UMing CN")});
}
