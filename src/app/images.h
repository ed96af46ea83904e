// The pictures of the main window, drawn by our own code.
#pragma once

#include <QIcon>
#include <QImage>

#include "app/controls.h"

namespace velmora {

inline constexpr int kButtonImageWidth = 75;
inline constexpr int kButtonImageHeight = 20;

// "Frames" between a left and a right arrow; the forward image has the right
// arrow blue, the back image the left one.
QImage reviewImage(ReviewPicture which);

// "Play" with a right-pointing triangle, black or blue.
QImage playImage(bool blueTriangle);

// The program's icon, `size` pixels square: a film frame with a back arrow.
QImage appIconImage(int size = 32);
QIcon appIcon();

}  // namespace velmora
