#include <gtest/gtest.h>

#include <array>
#include <set>

#include "engine/facts/ChipTable.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"

namespace qdx::sim {
namespace {

using Sector = std::array<std::uint8_t, kSectorBytes>;

// Reads the flash only through vendor commands, the way the host does.
class HostView {
public:
    HostView(SimDevice& device, const ChipGeometry& geometry)
        : m_device(device),
          m_shift(static_cast<std::uint32_t>(geometry.blockShift)),
          m_markByte(BadBlockMarkByte(geometry.largePage)) {}

    bool Good(std::uint32_t block) {
        std::array<std::uint8_t, kSpareBytes> first{}, second{};
        EXPECT_TRUE(m_device.Send(BuildReadSpare(block << m_shift, first.data())));
        EXPECT_TRUE(m_device.Send(BuildReadSpare((block << m_shift) + 1, second.data())));
        return first[m_markByte] == 0xFF && second[m_markByte] == 0xFF;
    }
    std::uint32_t GoodAtOrAbove(std::uint32_t block) {
        while (!Good(block)) {
            ++block;
        }
        return block;
    }
    std::int64_t GoodAtOrBelow(std::int64_t block) {
        while (block >= 0 && !Good(static_cast<std::uint32_t>(block))) {
            --block;
        }
        return block;
    }
    // The last block of an area of `count` good blocks starting at `first`.
    std::uint32_t AreaEnd(std::uint32_t first, std::uint32_t count) {
        std::uint32_t block = GoodAtOrAbove(first);
        for (std::uint32_t i = 1; i < count; ++i) {
            block = GoodAtOrAbove(block + 1);
        }
        return block;
    }
    std::int64_t StepsDown(std::int64_t block, std::uint32_t steps) {
        for (std::uint32_t i = 0; i < steps; ++i) {
            block = GoodAtOrBelow(block - 1);
        }
        return block;
    }
    Sector Read(std::uint32_t sector) {
        Sector data{};
        EXPECT_TRUE(m_device.Send(BuildReadSector(sector, data.data())));
        EXPECT_EQ(m_device.LastStatus().scsiStatus, 0);
        return data;
    }

private:
    SimDevice& m_device;
    std::uint32_t m_shift;
    int m_markByte;
};

std::uint32_t Entry(const Sector& sector, std::uint32_t index) {
    return GetBigEndian16(&sector[2 * index]);
}

struct LayoutCase {
    std::uint8_t code;
    bool twoChips;
    std::vector<std::uint32_t> bad;
};

std::vector<LayoutCase> LayoutCases() {
    std::vector<LayoutCase> cases;
    for (const ChipRow& row : kChipTable) {
        cases.push_back({row.deviceCode, false, {}});
        cases.push_back({row.deviceCode, true, {}});
    }
    // Bad blocks before the kernel block, inside the areas and inside the backup range.
    cases.push_back({0x73, false, {0, 3, 50, 120, 200, 990, 1022, 1023}});
    cases.push_back({0x79, true, {1, 2, 45, 99, 1000, 1013}});
    cases.push_back({0xF1, false, {1, 4, 9, 20, 1016, 1023}});
    cases.push_back({0xD3, true, {0, 2, 3, 12, 1010, 1020}});
    return cases;
}

TEST(SimFactoryLayout, KernelBlockDescribesGoodAreasBelowTheHostsBackups) {
    // Guards every chip against a kernel block the host cannot use or areas its backups overrun.
    for (const LayoutCase& c : LayoutCases()) {
        SCOPED_TRACE(testing::Message()
                     << "chip 0x" << std::hex << int{c.code} << std::dec
                     << (c.twoChips ? " x2" : " x1") << ", " << c.bad.size() << " bad blocks");
        std::string error;
        std::shared_ptr<SimPlayer> player =
            SimPlayer::CreateFactory(c.code, c.twoChips, c.bad, &error);
        ASSERT_NE(player, nullptr) << error;
        SimDevice device(player);
        ChipGeometry geometry = FindChip(c.code)->geometry;
        geometry.blocksK *= c.twoChips ? 2 : 1;
        const std::uint32_t shift = static_cast<std::uint32_t>(geometry.blockShift);
        const std::uint32_t blocksK = static_cast<std::uint32_t>(geometry.blocksK);
        ASSERT_EQ(player->TotalBlocks(), blocksK * 1024);
        HostView host(device, geometry);

        const std::uint32_t kernel = host.GoodAtOrAbove(host.GoodAtOrAbove(0) + 1);
        const std::uint32_t first = kernel << shift;
        std::array<Sector, 7> sectors;
        for (std::uint32_t i = 0; i < sectors.size(); ++i) {
            sectors[i] = host.Read(first + i);
        }
        std::uint32_t sum = 0;
        for (std::size_t i : {0, 1, 2, 3, 5, 6}) {
            for (std::uint8_t byte : sectors[i]) {
                sum += byte;
            }
        }
        EXPECT_EQ(GetBigEndian32(sectors[4].data()), sum);

        // IM/PM and the second area: consecutive good blocks right after the kernel block.
        std::uint32_t expected = kernel;
        for (std::uint32_t j = 0; j < (1280u >> shift); ++j) {
            expected = host.GoodAtOrAbove(expected + 1);
            EXPECT_EQ(Entry(sectors[5], j), expected) << "IM/PM entry " << j;
        }
        for (std::uint32_t j = 0; j < (512u >> shift); ++j) {
            expected = host.GoodAtOrAbove(expected + 1);
            EXPECT_EQ(Entry(sectors[6], j), expected) << "second area entry " << j;
        }
        const std::uint32_t uit = Entry(sectors[1], blocksK);
        EXPECT_EQ(uit, host.GoodAtOrAbove(expected + 1));
        const std::uint32_t uitEnd = host.AreaEnd(uit, 1280u >> shift);
        const std::uint32_t font = Entry(sectors[2], 0);
        EXPECT_GT(font, uitEnd);
        EXPECT_TRUE(host.Good(font));
        const std::uint32_t fontEnd = host.AreaEnd(font, 4096u >> shift);

        // The host's lowest backup block, counted down from block 1023 as its planning does.
        std::int64_t backup = host.GoodAtOrBelow(1023);
        backup = host.StepsDown(backup, blocksK + 1);
        backup = host.StepsDown(backup, (1280u >> shift) * 2 + (512u >> shift));
        // Room below it for a font backup of about 600 KiB.
        const std::int64_t fontBackupLow = host.StepsDown(backup, (1200u >> shift) + 1);
        EXPECT_LT(std::int64_t{fontEnd}, fontBackupLow);
    }
}

TEST(SimFactoryLayout, AFactoryPlayerOfTwoLargestChipsSavesSmall) {
    std::string error;
    auto player = SimPlayer::CreateFactory(0xD3, true, {5, 9000, 16383}, &error);
    ASSERT_NE(player, nullptr) << error;
    EXPECT_EQ(player->TotalBlocks(), 16384u);
    const std::string path = testing::TempDir() + "sim_layout_d3x2.qdxsim";
    ASSERT_TRUE(player->Save(path, &error)) << error;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    EXPECT_LT(size, 1L << 20);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace qdx::sim
