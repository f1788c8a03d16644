// The link setup dialog: title, linked file name, parameters and browse button of all 26 slots.
#pragma once

#include "Form.h"

#include <QByteArray>

#include <array>
#include <memory>
#include <optional>

class QLineEdit;
class QPlainTextEdit;
class QToolButton;
class RegistryAccessor;

namespace Ui {
class FormLinkFile;
}

class TFormLinkFile : public TForm {
    Q_OBJECT
public:
    explicit TFormLinkFile(QObject* owner);
    ~TFormLinkFile() override;

    void FormCreate();
    void FormClose(TForm* sender, CloseAction& action);
    void MemoAEnter(QObject* sender);
    void MemoAExit(QObject* sender);
    void SB01Click(QObject* sender);
    void SBAClick(QObject* sender);
    void Button1Click(QObject* sender);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString slotKey(int slot) const;
    QPlainTextEdit* titleMemo(int slot) const;
    QLineEdit* fileNameField(int slot) const;
    QToolButton* detailButton(int slot) const;
    QToolButton* browseButton(int slot) const;
    // The slot of the row whose title memo or file-name field has the focus, or 0.
    int focusedRow() const;
    void openSlotKey(RegistryAccessor& reg, int slot) const;

    // The stored bytes of each row's values, as loaded; nothing for a value that was missing.
    struct Row {
        std::optional<QByteArray> title;
        std::optional<QByteArray> fileName;
    };

    std::unique_ptr<Ui::FormLinkFile> ui;
    QString keyName_;
    int rowsLoaded_ = 0;
    std::array<Row, 26> rows_;
    bool saveFailed_ = false;
};
