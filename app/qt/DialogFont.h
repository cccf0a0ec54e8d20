// The dialog font and the pixel geometry it gives the templates.
#pragma once

#include <QFont>
#include <QRect>

#include "app/DialogTemplates.h"

namespace qdx::app {

// 9-point SimSun where installed, else an installed CJK family.
QFont DialogFont();
DialogBaseUnits BaseUnitsOf(const QFont& font);
QRect PixelRect(const DuRect& du, DialogBaseUnits base);

}  // namespace qdx::app
