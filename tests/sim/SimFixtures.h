// Small helpers shared by the simulated player's tests.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimPlayer.h"

namespace qdx::sim::test {

using Sector = std::array<std::uint8_t, kSectorBytes>;
using Spare = std::array<std::uint8_t, kSpareBytes>;

// A factory-fresh player; a failure to make one fails the calling test.
inline std::shared_ptr<SimPlayer> Factory(std::uint8_t code, bool twoChips,
                                          const std::vector<std::uint32_t>& bad = {}) {
    std::string error;
    std::shared_ptr<SimPlayer> player = SimPlayer::CreateFactory(code, twoChips, bad, &error);
    EXPECT_NE(player, nullptr) << error;
    return player;
}

inline Sector Filled(std::uint8_t value) {
    Sector sector;
    sector.fill(value);
    return sector;
}

// The data bytes the flash holds for a sector, read past the controller.
inline Sector Stored(const SimPlayer& player, std::uint32_t sector) {
    Sector data;
    player.ReadData(sector, data.data());
    return data;
}

inline Spare StoredSpare(const SimPlayer& player, std::uint32_t sector) {
    Spare spare;
    player.ReadSpare(sector, spare.data());
    return spare;
}

}  // namespace qdx::sim::test
