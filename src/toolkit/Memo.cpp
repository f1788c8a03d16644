#include "Memo.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextDocument>

#include <limits>

namespace {

// Laying out one line of many thousand characters takes the text engine seconds; a text this
// long waits until the user works in the control.
constexpr qsizetype kLayOutAtOnce = 20000;
// What a waiting control shows meanwhile: its first line is all a 24-pixel memo shows anyway.
constexpr qsizetype kShownWhileWaiting = 2000;

const char* const kLoaded = "quorvaneLoadedText";   // the text as shown right after loading
const char* const kWaiting = "quorvaneWaitingText"; // the whole text, not yet shown

QString rawText(const QPlainTextEdit* memo) {
    return memo->document()->toRawText();
}

// Puts the text a control has been waiting with into it when the user starts to work in it:
// a click, a key that edits or moves the cursor, a paste or drop, the context menu. Passing
// through with Tab does not load it.
class LoadOnFocus : public QObject {
public:
    using QObject::QObject;

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

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (wantsText(event)) {
            const QVariant waiting = watched->property(kWaiting);
            if (waiting.isValid()) {
                watched->setProperty(kWaiting, QVariant());
                const QString text = waiting.toString();
                if (auto memo = qobject_cast<QPlainTextEdit*>(watched)) {
                    memo->setPlainText(fromCrLf(text));
                    memo->setReadOnly(false);
                    memo->setProperty(kLoaded, rawText(memo));
                } else if (auto field = qobject_cast<QLineEdit*>(watched)) {
                    field->setText(text);
                    field->setReadOnly(false);
                    field->setProperty(kLoaded, field->text());
                }
            }
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }
};

void waitForFocus(QWidget* control, const QString& text) {
    control->setProperty(kWaiting, text);
    auto filter = new LoadOnFocus(control);
    control->installEventFilter(filter);
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
