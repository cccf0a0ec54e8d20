// Dialog-unit arithmetic, the dialog font choice, the About command ids and the bar's clamp.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/DialogTemplates.h"

namespace qdx::app {
namespace {

TEST(DialogUnits, BaseUnitsAreTheRoundedAverageLetterAndTheHeight) {
    // 52 letters: 312 px average exactly 6; 338 px is 6.5 and rounds up; 324 px rounds down.
    EXPECT_EQ(BaseUnitsFromFont(312, 12).x, 6);
    EXPECT_EQ(BaseUnitsFromFont(338, 12).x, 7);
    EXPECT_EQ(BaseUnitsFromFont(324, 12).x, 6);
    EXPECT_EQ(BaseUnitsFromFont(312, 14).y, 14);
}

TEST(DialogUnits, TemplatesMapLikeTheDialogManager) {
    // A 9-point font of base units 6 x 12: halves round away from zero.
    const DialogBaseUnits base{6, 12};
    const std::pair<DuRect, DuRect> cases[] = {
        {MainTemplate::kClient, {0, 0, 393, 194}},
        {MainTemplate::kStart, {158, 150, 75, 21}},
        {MainTemplate::kProgress, {30, 86, 332, 24}},
        {MainTemplate::kStatus, {30, 56, 162, 12}},
        {MainTemplate::kDeviceGroup, {11, 11, 372, 119}},
        {AboutTemplate::kClient, {0, 0, 353, 83}},
        {AboutTemplate::kOk, {267, 11, 75, 21}},
    };
    for (const auto& [du, px] : cases) {
        const DuRect got = ToPixels(du, base);
        EXPECT_EQ(got, px) << du.x << "," << du.y << " " << du.width << "x" << du.height << " -> "
                           << got.x << "," << got.y << " " << got.width << "x" << got.height;
    }
}

TEST(DialogFont, SimSunFirstThenAnInstalledCjkFamily) {
    EXPECT_EQ(ChooseDialogFontFamily({"DejaVu Sans", "WenQuanYi Micro Hei", "SimSun"}), "SimSun");
    EXPECT_EQ(ChooseDialogFontFamily({"DejaVu Sans", "WenQuanYi Micro Hei"}),
              "WenQuanYi Micro Hei");
    EXPECT_EQ(ChooseDialogFontFamily({"DejaVu Sans", "Noto Sans CJK SC"}), "Noto Sans CJK SC");
    EXPECT_EQ(ChooseDialogFontFamily({"DejaVu Sans"}), "");
}

TEST(SysCommand, Ids16To31OpenTheAboutBox) {
    for (std::uint32_t id = 16; id <= 31; ++id) {
        EXPECT_TRUE(IsAboutCommand(id)) << id;
    }
    // 0xF060 close, 0xF020 minimise, 0xF010 move; and a wrapped 16-bit difference.
    for (std::uint32_t id : {0u, 15u, 32u, 0xF060u, 0xF020u, 0xF010u, 0xFFFFu}) {
        EXPECT_FALSE(IsAboutCommand(id)) << id;
    }
    EXPECT_TRUE(IsAboutCommand(0x10010u));  // only the low 16 bits of the difference count
}

TEST(ProgressBar, ShowsWithinItsRange) {
    EXPECT_EQ(ProgressShown(-5), 0);
    EXPECT_EQ(ProgressShown(0), 0);
    EXPECT_EQ(ProgressShown(57), 57);
    EXPECT_EQ(ProgressShown(100), 100);
    EXPECT_EQ(ProgressShown(131), 100);  // the writer's running total can pass 100
}

TEST(ClientArguments, ASimulatedPlayerWithItsLatencyAndFaults) {
    std::string error;
    auto none = ParseClientArguments({}, &error);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->simulatedPlayer.empty());
    EXPECT_TRUE(none->faults.Empty());

    auto sim = ParseClientArguments({"--simulate", "p.sim", "--latency-us", "1500", "--fault",
                                     "format-fails", "--fault", "weak-sector=200"},
                                    &error);
    ASSERT_TRUE(sim) << error;
    EXPECT_EQ(sim->simulatedPlayer, "p.sim");
    EXPECT_EQ(sim->latency.count(), 1500);
    EXPECT_TRUE(sim->faults.formatFails);
    EXPECT_EQ(sim->faults.weakSector, std::vector<std::uint32_t>({200}));
    EXPECT_TRUE(sim->ignored.empty());
}

TEST(ClientArguments, WhatTheProgramDoesNotKnowIsIgnored) {
    // A launcher's or a desktop's extra arguments never keep the window from opening.
    std::string error;
    auto options =
        ParseClientArguments({"p.sim", "-psn_0_1234", "--simulate", "a.sim", "--help"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->simulatedPlayer, "a.sim");
    EXPECT_EQ(options->ignored, std::vector<std::string>({"p.sim", "-psn_0_1234", "--help"}));
}

TEST(ClientArguments, MalformedKnownOptionsAreRefused) {
    const std::vector<std::vector<std::string>> refused = {
        {"--simulate"},
        {"--simulate", ""},
        {"--latency-us", "10"},
        {"--fault", "format-fails"},  // no simulated player to fail
        {"--simulate", "p.sim", "--latency-us", "x"},
        {"--simulate", "p.sim", "--latency-us", "-1"},
        {"--simulate", "p.sim", "--latency-us", "10", "--latency-us", "20"},
        {"--simulate", "p.sim", "--fault", "melts"},
        {"--simulate", "p.sim", "--fault"},
        {"--simulate", "a.sim", "--simulate", "b.sim"},
    };
    for (const auto& args : refused) {
        std::string error;
        EXPECT_FALSE(ParseClientArguments(args, &error)) << testing::PrintToString(args);
        EXPECT_FALSE(error.empty()) << testing::PrintToString(args);
    }
}

}  // namespace
}  // namespace qdx::app
