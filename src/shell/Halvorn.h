// The main window: 26 slot buttons, a status strip of 26 indicators, the tool bar with "Tile",
// "Run" and "&Close", and the work area that hosts the job windows.
#pragma once

#include "Form.h"

#include <QPixmap>
#include <QPointer>
#include <QString>

#include <array>
#include <memory>

class QAbstractButton;
class QMdiArea;
class QToolButton;
class RegistryAccessor;

namespace Ui {
class TFormHalvorn;
}

// A window handle: any non-zero identity of an open job window; 0 means none.
using WindowHandle = quintptr;

class TFormHalvorn : public TForm {
    Q_OBJECT
public:
    explicit TFormHalvorn(QObject* owner = nullptr);
    ~TFormHalvorn() override;

    static constexpr int SlotCount = 26;

    const QString& rootKeyName() const { return rootKeyName_; }
    const QString& jobClassPrefix() const { return jobClassPrefix_; }
    WindowHandle slotHandle(int slot) const { return slotHandles_.at(slot); }
    QMdiArea* workArea() const;

    // Handlers.
    void FormCreate();
    void SetStatusGlyph(int imageIndex, QAbstractButton* indicator);
    void SB0Click();
    void SBTileClick();
    void FormResize();
    // `key` is the platform's virtual-key code (letters 65 to 90, F10 121).
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);
    void BBAClick(QObject* sender);
    void FormClose(TForm* sender, CloseAction& action);
    void SBRunClick();

    // Lays the job windows out over the whole work area.
    void retile();

    // The three pictures of the status indicators: lit bulb, grey bulb, door.
    const QPixmap& image(int index) const { return imageList0_.at(static_cast<size_t>(index)); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Makes the job window a framed sub-window of the work area, hidden until shown.
    void embedInWorkArea(TForm* job);
    // Runs the link setup dialog modally, owned by this window.
    void runLinkSetup();

    std::unique_ptr<Ui::TFormHalvorn> ui;
    QString rootKeyName_;
    QString jobClassPrefix_;
    std::array<WindowHandle, SlotCount + 1> slotHandles_{}; // index 1 to 26
    std::array<QPixmap, 3> imageList0_;
};

// The main-window reference: set when the main window's construction begins.
extern TFormHalvorn* FormHalvorn;

// The platform's virtual-key code of a Qt key, or 0 for keys the program does not handle.
int virtualKeyCode(int qtKey);
