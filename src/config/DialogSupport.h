// Helpers the settings dialogs share.
#pragma once

class QObject;
class QWidget;

// A dialog owned by another window becomes that window's Qt child as a separate dialog window,
// so it stays above its owner; the owner's destructor frees it as an owned form first.
void attachDialogToOwner(QWidget* dialog, QObject* owner);

// Moves a window to the centre of its screen.
void centreOnScreen(QWidget* window);

// The form descriptions give fonts in points for 96 pixels per inch; each font set there is
// turned into the pixel size it was designed with, so it does not change with the screen.
void usePixelFonts(QWidget* root);
