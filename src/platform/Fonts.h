#pragma once

// The forms name the fonts "MS Sans Serif", "Times New Roman" and "細明體"; this maps them to
// fonts that a Debian desktop has. Call once after the application object exists.
void installFontSubstitutions();
