#include "app/DialogTemplates.h"

#include <algorithm>
#include <array>

namespace qdx::app {

namespace {

// a * b / c rounded half away from zero, as the dialog manager's arithmetic does.
int MulDivRounded(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

DialogBaseUnits BaseUnitsFromFont(int lettersWidth, int height) {
    // Rounded average of 52 letters: (width / 26 + 1) / 2.
    return DialogBaseUnits{(lettersWidth / 26 + 1) / 2, height};
}

DuRect ToPixels(const DuRect& du, DialogBaseUnits base) {
    return DuRect{MulDivRounded(du.x, base.x, 4), MulDivRounded(du.y, base.y, 8),
                  MulDivRounded(du.width, base.x, 4), MulDivRounded(du.height, base.y, 8)};
}

std::string ChooseDialogFontFamily(const std::vector<std::string>& installedFamilies) {
    static constexpr std::array<const char*, 8> kPreferred = {
        "SimSun",
        "宋体",
        "NSimSun",
        "WenQuanYi Micro Hei",
        "Noto Sans CJK SC",
        "Source Han Sans SC",
        "WenQuanYi Zen Hei",
        "AR PL UMing CN",
    };
    for (const char* wanted : kPreferred) {
        if (std::find(installedFamilies.begin(), installedFamilies.end(), wanted) !=
            installedFamilies.end()) {
            return wanted;
        }
    }
    return {};
}

bool IsAboutCommand(std::uint32_t id) {
    return static_cast<std::uint16_t>(id - kIdmAboutBox) <= 15;
}

int ProgressShown(int position) {
    return std::clamp(position, 0, 100);
}

}  // namespace qdx::app
