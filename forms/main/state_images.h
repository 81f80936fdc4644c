#pragma once
// The three 12 x 12 state images of the file list, by state index: a yellow question mark
// (Unchecked), a blue ring (Normal) and a cross in dark red and orange (Error). Drawn once on a
// transparent background on first use; needs the GUI application object.

#include <QPixmap>

// The image of state index `state`; a null pixmap for any other value.
const QPixmap& StateImage(int state);

inline constexpr int kStateImageSize = 12;
