// Icon 128: a pocket player with a download arrow on its screen, drawn in code at 32x32 and
// 16x16 in a small flat palette.
#pragma once

#include <QIcon>
#include <QImage>

namespace qdx::app {

// One size of the icon (16 or 32 look right; other sizes are scaled from the 32 drawing).
QImage AppIconImage(int size);
// Both sizes.
QIcon AppIcon();

}  // namespace qdx::app
