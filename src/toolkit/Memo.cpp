#include "Memo.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextDocument>

#include <algorithm>
#include <limits>

namespace {

// Laying out one line of many thousand characters takes the text engine seconds; a text this
// long waits until the user works in the control.
constexpr qsizetype kLayOutAtOnce = 20000;
// What a waiting control shows meanwhile: its first line is all a 24-pixel memo shows anyway.
constexpr qsizetype kShownWhileWaiting = 2000;

const char* const kLoaded = "quorvaneLoadedText";   // the text as shown right after loading
const char* const kWaiting = "quorvaneWaitingText"; // the whole text, not yet shown

qsizetype longestLine(const QString& text) {
    qsizetype longest = 0, start = 0;
    for (qsizetype end; (end = text.indexOf(QLatin1Char('\n'), start)) >= 0; start = end + 1)
        longest = std::max(longest, end - start);
    return std::max(longest, text.size() - start);
}

QString rawText(const QPlainTextEdit* memo) {
    return memo->document()->toRawText();
}

// Puts the text a control has been waiting with into it when the user starts to work in it:
// a click (on a memo: on its viewport), a key that edits or moves the cursor, a paste or drop,
// the context menu. Passing through with Tab does not load it.
class LoadOnFocus : public QObject {
public:
    // Watches the control and, for a memo, its viewport, which receives the memo's mouse events.
    explicit LoadOnFocus(QWidget* control) : QObject(control), control_(control) {
        control->installEventFilter(this);
        if (auto memo = qobject_cast<QPlainTextEdit*>(control))
            memo->viewport()->installEventFilter(this);
    }

protected:
    static bool wantsText(const QEvent* event) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::ContextMenu:
        case QEvent::InputMethod:
        case QEvent::DragEnter:
            return true;
        case QEvent::KeyPress:
            return !passesThrough(static_cast<const QKeyEvent*>(event));
        default:
            return false;
        }
    }

    static bool passesThrough(const QKeyEvent* key) {
        switch (key->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
        case Qt::Key_Meta:
        case Qt::Key_AltGr:
            return true;
        default:
            // Alt+letter presses a button elsewhere in the window.
            return (key->modifiers() & Qt::AltModifier) != 0;
        }
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (!wantsText(event))
            return false;
        const QVariant waiting = control_->property(kWaiting);
        if (waiting.isValid()) {
            control_->setProperty(kWaiting, QVariant());
            const QString text = waiting.toString();
            if (auto memo = qobject_cast<QPlainTextEdit*>(control_)) {
                const QString lines = fromCrLf(text);
                // Wrapping one line of that length takes the text engine minutes (it breaks it
                // into thousands of rows); unwrapped, the line is laid out in about a second per
                // mebibyte.
                if (longestLine(lines) > kLayOutAtOnce)
                    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
                memo->setPlainText(lines);
                memo->setReadOnly(false);
                memo->setProperty(kLoaded, rawText(memo));
                memo->viewport()->removeEventFilter(this);
            } else if (auto field = qobject_cast<QLineEdit*>(control_)) {
                field->setText(text);
                field->setReadOnly(false);
                field->setProperty(kLoaded, field->text());
            }
        }
        control_->removeEventFilter(this);
        deleteLater();
        return false;
    }

private:
    QWidget* control_;
};

void waitForFocus(QWidget* control, const QString& text) {
    control->setProperty(kWaiting, text);
    new LoadOnFocus(control);
}

bool waiting(const QObject* control) {
    return control->property(kWaiting).isValid();
}

} // namespace

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
    if (waiting(memo))
        return toCrLf(memo->property(kWaiting).toString());
    // Lines are blocks, separated by U+2029 in the raw text; toPlainText() would also turn
    // no-break spaces into spaces and U+2028 into a line feed.
    QString text = rawText(memo);
    text.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    return text;
}

void setMemoText(QPlainTextEdit* memo, const QString& text) {
    memo->setProperty(kWaiting, QVariant());
    memo->setReadOnly(false);
    memo->setPlainText(fromCrLf(text));
    memo->document()->setModified(true);
}

void loadMemo(QPlainTextEdit* memo, const QString& text) {
    if (text.size() > kLayOutAtOnce) {
        QString start = text.left(kShownWhileWaiting);
        const qsizetype lineEnd = start.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
        if (lineEnd >= 0)
            start.truncate(lineEnd);
        memo->setPlainText(start);
        memo->setReadOnly(true);
        waitForFocus(memo, text);
        return;
    }
    memo->setPlainText(fromCrLf(text));
    memo->setProperty(kLoaded, rawText(memo));
}

bool memoEdited(const QPlainTextEdit* memo) {
    if (waiting(memo))
        return false;
    return memo->document()->isModified() || rawText(memo) != memo->property(kLoaded).toString();
}

QString fieldText(const QLineEdit* field) {
    return waiting(field) ? field->property(kWaiting).toString() : field->text();
}

void loadField(QLineEdit* field, const QString& text) {
    field->setMaxLength(std::numeric_limits<int>::max());
    if (text.size() > kLayOutAtOnce) {
        field->setText(text.left(kShownWhileWaiting));
        field->setReadOnly(true);
        waitForFocus(field, text);
        return;
    }
    field->setText(text);
    field->setProperty(kLoaded, field->text());
}

bool fieldEdited(const QLineEdit* field) {
    if (waiting(field))
        return false;
    return field->isModified() || field->text() != field->property(kLoaded).toString();
}
