#include "app/qt/DialogFont.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

namespace qdx::app {

QFont DialogFont() {
    std::vector<std::string> installed;
    for (const QString& family : QFontDatabase::families()) {
        installed.push_back(family.toStdString());
    }
    QFont font;
    const std::string family = ChooseDialogFontFamily(installed);
    if (!family.empty()) {
        font.setFamily(QString::fromStdString(family));
    }
    font.setPointSize(kDialogFontPointSize);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    return BaseUnitsFromFont(metrics.horizontalAdvance(QStringLiteral(
                                 "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")),
                             metrics.height());
}

QRect PixelRect(const DuRect& du, DialogBaseUnits base) {
    const DuRect px = ToPixels(du, base);
    return QRect(px.x, px.y, px.width, px.height);
}

}  // namespace qdx::app
