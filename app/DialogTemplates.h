// The two dialog templates in dialog units, their conversion to pixels, and the few window rules
// that need no toolkit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qdx::app {

struct DuRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const DuRect&) const = default;
};

// Control ids of the main window.
inline constexpr int kIdStart = 1000;
inline constexpr int kIdProgress = 1007;
inline constexpr int kIdDeviceGroup = 1017;
inline constexpr int kIdStatus = 1027;

// Template 102, the main window (client area and controls).
struct MainTemplate {
    static constexpr DuRect kClient{0, 0, 262, 129};
    static constexpr DuRect kStart{105, 100, 50, 14};
    static constexpr DuRect kProgress{20, 57, 221, 16};
    static constexpr DuRect kStatus{20, 37, 108, 8};
    static constexpr DuRect kDeviceGroup{7, 7, 248, 79};
};

// Template 100, the About box.
struct AboutTemplate {
    static constexpr DuRect kClient{0, 0, 235, 55};
    static constexpr DuRect kIcon{11, 17, 20, 20};
    static constexpr DuRect kVersion{40, 10, 119, 8};
    static constexpr DuRect kOk{178, 7, 50, 14};
};

// The dialog base units of a font: the average width of the 52 Latin letters, rounded, and the
// font's height, both in pixels.
struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};

// The base units from the pixel width of "A..Za..z" and the font height.
DialogBaseUnits BaseUnitsFromFont(int lettersWidth, int height);

// Dialog units to pixels as the dialog manager maps them: x * baseX / 4, y * baseY / 8, rounded.
DuRect ToPixels(const DuRect& du, DialogBaseUnits base);

// The dialog font's family: SimSun where installed, else the first installed CJK family of a
// short preference list; empty when none is installed (the toolkit's default then stands).
std::string ChooseDialogFontFamily(const std::vector<std::string>& installedFamilies);
inline constexpr int kDialogFontPointSize = 9;

// System command ids that open the About box: 16 (the About item) with any of the four low bits
// the window manager may set, that is 16..31.
inline constexpr std::uint32_t kIdmAboutBox = 16;
bool IsAboutCommand(std::uint32_t id);

// What the progress bar shows for a position: the control keeps within its range 0..100.
int ProgressShown(int position);

}  // namespace qdx::app
