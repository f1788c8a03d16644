#pragma once

// The forms name the fonts "MS Sans Serif", "Times New Roman" and "細明體"; this maps them to
// fonts that a Debian desktop has. Call once after the application object exists.
void installFontSubstitutions();

class QWidget;

// Form files give font sizes in pixels as the dynamic property "pixelFontSize" (the form format
// itself knows only points); this applies them to `root` and every widget below it.
void applyPixelFonts(QWidget* root);
