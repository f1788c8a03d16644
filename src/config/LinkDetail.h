// The link detail dialog: the eighteen parameters of one slot, read from and written to the slot
// key whose path the opener puts into the caption.
#pragma once

#include "Form.h"

#include <QByteArray>

#include <array>
#include <memory>
#include <optional>

class QPlainTextEdit;
class RegistryAccessor;

namespace Ui {
class FormLinkDetail;
}

class TFormLinkDetail : public TForm {
    Q_OBJECT
public:
    explicit TFormLinkDetail(QObject* owner);
    ~TFormLinkDetail() override;

    void FormShow();
    void FormClose(TForm* sender, CloseAction& action);
    void Memo1Enter(QObject* sender);
    void Memo1Exit(QObject* sender);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPlainTextEdit* parameterMemo(int number) const;

    std::unique_ptr<Ui::FormLinkDetail> ui;
    QString keyPath_;
    std::unique_ptr<RegistryAccessor> reg_;
    int loaded_ = 0;
    std::array<std::optional<QByteArray>, 18> stored_; // each parameter's bytes as loaded
};
