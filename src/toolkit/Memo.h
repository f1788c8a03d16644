// Texts in the editing controls. Multi-line editors keep line breaks as block breaks; the
// program's texts (and the store) keep carriage return + line feed. These convert at the
// editor's edge, and tell a control the user edited from one that still shows what was loaded.
#pragma once

#include <QString>

class QLineEdit;
class QPlainTextEdit;

// The memo's text as typed: every line break (Enter, or one pasted) as CR LF, all other
// characters (no-break spaces, U+2028, byte-order marks ...) as they are.
QString memoText(const QPlainTextEdit* memo);
// Replaces the memo's text the way the user would: the memo counts as edited afterwards.
void setMemoText(QPlainTextEdit* memo, const QString& text);
// Shows a loaded text: line breaks of any kind become the memo's lines, and the memo counts as
// not edited until its text changes. A very long text is laid out only when the user first
// clicks or types into the memo (until then it shows the text's beginning and takes no input),
// so that a window with such texts opens at once.
void loadMemo(QPlainTextEdit* memo, const QString& text);
bool memoEdited(const QPlainTextEdit* memo);

// The same for single-line fields, which also hold texts of any length.
QString fieldText(const QLineEdit* field);
void loadField(QLineEdit* field, const QString& text);
bool fieldEdited(const QLineEdit* field);

// Line breaks of any kind (CR LF, CR, LF) written as CR LF, and back to LF.
QString toCrLf(const QString& text);
QString fromCrLf(const QString& text);
