#include "Memo.h"

#include <QPlainTextEdit>

QString fromCrLf(const QString& text) {
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

QString toCrLf(const QString& text) {
    return fromCrLf(text).replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

QString memoText(const QPlainTextEdit* memo) {
    return toCrLf(memo->toPlainText());
}

void setMemoText(QPlainTextEdit* memo, const QString& text) {
    memo->setPlainText(fromCrLf(text));
}
