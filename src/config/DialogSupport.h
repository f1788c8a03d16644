// Helpers the settings dialogs share.
#pragma once

class QObject;
class QWidget;

// A dialog owned by another window becomes that window's Qt child as a separate dialog window,
// so it stays above its owner; the owner's destructor frees it as an owned form first.
void attachDialogToOwner(QWidget* dialog, QObject* owner);

// Moves a window to the centre of its screen.
void centreOnScreen(QWidget* window);
