// Multi-line editors keep line breaks as "\n"; the program's texts (and the store) keep carriage
// return + line feed. These convert at the editor's edge.
#pragma once

#include <QString>

class QPlainTextEdit;

QString memoText(const QPlainTextEdit* memo);
void setMemoText(QPlainTextEdit* memo, const QString& text);

// Line breaks of any kind (CR LF, CR, LF) written as CR LF, and back to LF.
QString toCrLf(const QString& text);
QString fromCrLf(const QString& text);
