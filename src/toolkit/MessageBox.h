// Every message box the program shows goes through here, so that tests can answer them without
// a modal loop: with a hook installed, nothing is shown and the hook gives the answer.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace msgbox {

enum class Kind { Error, Message, Confirm };
enum class Answer { Ok, Yes, No };

struct Shown {
    Kind kind;
    QString caption;
    QString text;
};

using Hook = std::function<Answer(const Shown&)>;

// The standard error box: the message with a "." appended when its last character sorts after
// "."; the application title as caption; an error icon.
void showError(const QString& message);
// A plain message: application title as caption, one OK button, no icon.
void showMessage(const QString& text);
// A confirmation: question icon, caption "Confirm", buttons "&Yes" and "&No". True for Yes.
bool confirm(const QString& text);

// The text the error box shows for an error message.
QString errorText(const QString& message);

// Installs a hook that answers every box instead of showing it; an empty hook shows them again.
void setHook(Hook hook);

} // namespace msgbox
