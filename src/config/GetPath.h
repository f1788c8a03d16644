// The directory picker: browse drives, directories and files and hand back one file's full path.
// The caption is the channel in and out: the caller writes the start path into it before the
// run and reads the chosen path (or an empty text) from it afterwards.
#pragma once

#include "Form.h"

#include <QString>

#include <memory>

namespace Ui {
class TFormGetPath;
}

class TFormGetPath : public TForm {
    Q_OBJECT
public:
    explicit TFormGetPath(QObject* owner = nullptr);
    ~TFormGetPath() override;

    // One browse: creates the picker owned by `owner` with `startPath` as its caption, runs it
    // modally, reads the caption and disposes of the picker, on every path.
    static QString Browse(TForm* owner, const QString& startPath);

    void FormShow();
    void FormClose(TForm* Sender, CloseAction& Action);
    void DirectoryNameKeyPress(QObject* Sender, QChar& Key);
    void DirectoryListBox1Change();
    void BBOKClick();
    void BBCancelClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::TFormGetPath> ui; // the controls of the form description
    QString ResultPath;
};
