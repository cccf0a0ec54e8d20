// Icon 128: a pocket player with a download arrow on its screen, drawn in code in a small flat
// palette: pixel-exact at 16 and 32, smooth at the larger sizes, and as a scalable drawing.
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>

namespace qdx::app {

// The sizes installed and put into the Windows icon.
inline constexpr int kAppIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// One size of the icon: 16 and 32 drawn on the pixel grid, larger sizes drawn smooth, the sizes
// between scaled from the 32 drawing.
QImage AppIconImage(int size);
// The sizes the window uses.
QIcon AppIcon();
// The same drawing as an SVG document on a 32-unit canvas.
QByteArray AppIconSvg();

}  // namespace qdx::app
