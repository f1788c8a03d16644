// The base job window: a simulated job of 1000 progress steps, started by its timer or by a
// click on its central panel.
#pragma once

#include "Form.h"

#include <memory>

class QFrame;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QTimer;
class TPanel;

namespace Ui {
class FormAuto;
}

class TFormAuto : public TForm {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TFormAuto(QObject* owner);
    ~TFormAuto() override;

    QFrame* ToolBar0 = nullptr;
    QProgressBar* ProgressBar0 = nullptr;
    QPlainTextEdit* Memo0 = nullptr;
    TPanel* Panel0 = nullptr;
    QTimer* Timer0 = nullptr;
    QLabel* STStart = nullptr;
    QLabel* STEnd = nullptr;
    QListWidget* ListBox0 = nullptr;

    void FormShow(QObject* sender);
    void ToolBar0Resize(QObject* sender);
    void Timer0Timer(QObject* sender);
    void Panel0Click(QObject* sender);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::FormAuto> ui_;
};
