// The database job window of slot Q: a source and a target database connection, each with a
// data set, a command and a read-only grid; a panel with a "Run" button and a clock; a progress
// bar. Its caption configures it (title, two connection strings, a command text), and its run
// processes pending events on every step.
#pragma once

#include "Form.h"

#include <QSize>
#include <QStringList>

#include <memory>

class QFrame;
class QPlainTextEdit;
class QProgressBar;
class QTableView;
class QTimer;
class QToolButton;
class TADOCommand;
class TADOConnection;
class TADODataSet;
class TDataSource;
class TPanel;

namespace Ui {
class FormAutoQ;
}

// The caption's lines: a line ends at CR, LF or CR LF; a break at the very end adds no line; the
// text ends at its first NUL.
QStringList splitCaptionLines(const QString& caption);

class TFormAutoQ : public TForm {
    Q_OBJECT
public:
    // Raises Error when the database objects cannot be created.
    Q_INVOKABLE explicit TFormAutoQ(QObject* owner);
    ~TFormAutoQ() override;

    TDataSource* DSSource;
    TADODataSet* ADODataSetSource;
    TADOCommand* ADOCommandSource;
    QFrame* ToolBar0;
    QProgressBar* ProgressBar0;
    QPlainTextEdit* Memo0;
    QTableView* DBSource;
    TPanel* Panel0;
    QTableView* DBTarget;
    TDataSource* DSTarget;
    TADODataSet* ADODataSetTarget;
    TADOCommand* ADOCommandTarget;
    QToolButton* SBRun;
    QTimer* Timer0;
    TADOConnection* ADOConnectionSource;
    TADOConnection* ADOConnectionTarget;
    QTimer* Timer1;

    void FormShow();
    void ToolBar0Resize(QObject* sender);
    void Timer0Timer(QObject* sender);
    void Timer1Timer(QObject* sender);
    void SBRunClick(QObject* sender);

    // The form's outer size, frame and title bar included.
    static constexpr QSize kOuterSize{640, 480};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void applyOuterSize();

    std::unique_ptr<Ui::FormAutoQ> ui_;
    bool runFlag_ = false;
    bool outerSizeApplied_ = false;
};
