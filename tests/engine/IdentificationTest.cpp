// Chip identification, bad-block walks, the kernel block and the layout tables.
#include <gtest/gtest.h>

#include <memory>

#include "engine/CFlashEngine.h"
#include "tests/engine/FakeFlash.h"
#include "tests/engine/RecordingPorts.h"

namespace qdx::test {
namespace {

// Writes a kernel block whose tables hold recognisable entries (1000 + index) and whose checksum
// holds, into the block at firstSector.
void WriteKernelBlock(FakeFlash& flash, std::uint32_t firstSector) {
    std::uint32_t sum = 0;
    for (std::uint32_t i : {0u, 1u, 2u, 3u, 5u, 6u}) {
        FakeFlash::Sector s{};
        for (int e = 0; e < 256; ++e) {
            PutBigEndian16(&s[2 * e], static_cast<std::uint16_t>(1000 * (i + 1) + e));
        }
        flash.data[firstSector + i] = s;
        for (std::uint8_t b : s) {
            sum += b;
        }
    }
    FakeFlash::Sector checksum{};
    PutBigEndian32(checksum.data(), sum);
    flash.data[firstSector + 4] = checksum;
}

TEST(ChipTable, EveryRowIsConsistent) {
    for (const ChipRow& row : kChipTable) {
        SCOPED_TRACE(row.deviceCode);
        const ChipGeometry& g = row.geometry;
        EXPECT_EQ(g.sectorsPerBlock, 1 << g.blockShift);
        EXPECT_EQ(g.capacityMB, g.blocksK * g.sectorsPerBlock / 2);
        EXPECT_EQ(g.sectorsPerPage == 4, g.largePage == 1);
        EXPECT_EQ(FindChip(row.deviceCode), &row) << "device codes must be unique";
    }
    EXPECT_EQ(FindChip(0xEC), nullptr);
    EXPECT_EQ(FindChip(0x00), nullptr);
}

struct IdCase {
    std::uint8_t code;
    bool twoChips;
    std::int32_t blocksK;
    std::int32_t capacityMB;
    std::uint32_t sectorsPerBlock;
};

class IdentifyChip : public ::testing::TestWithParam<IdCase> {};

TEST_P(IdentifyChip, LoadsGeometryAndDoublesForASecondChip) {
    const IdCase& c = GetParam();
    auto flash = std::make_shared<FakeFlash>(c.code, c.sectorsPerBlock, c.twoChips);
    CFlashEngine engine;
    engine.m_format = 1;
    ASSERT_EQ(engine.InitFlash(flash), 1);
    EXPECT_EQ(engine.m_blocksK, c.blocksK);
    EXPECT_EQ(engine.m_capacityMB, c.capacityMB);
    EXPECT_EQ(engine.m_sectorsPerBlock, static_cast<std::int32_t>(c.sectorsPerBlock));
    EXPECT_EQ(engine.TwoChips(), c.twoChips);
    // With the format option set only the ID reads go out; a single chip costs a third one.
    std::vector<LoggedCommand> expected = {{SubCommand::ReadId, 0}, {SubCommand::ReadId, 1}};
    if (!c.twoChips) {
        expected.push_back({SubCommand::ReadId, 0});
    }
    EXPECT_EQ(flash->log, expected);
    // A second identification on the same flash must not double again.
    ASSERT_EQ(engine.InitFlash(flash), 1);
    EXPECT_EQ(engine.m_blocksK, c.blocksK);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Chips, IdentifyChip, ::testing::Values(
    IdCase{.code = 0x73, .twoChips = false, .blocksK =  1, .capacityMB =   16, .sectorsPerBlock =  32},
    IdCase{.code = 0x79, .twoChips = false, .blocksK =  8, .capacityMB =  128, .sectorsPerBlock =  32},
    IdCase{.code = 0xF1, .twoChips = false, .blocksK =  1, .capacityMB =  128, .sectorsPerBlock = 256},
    IdCase{.code = 0xDA, .twoChips = true,  .blocksK =  4, .capacityMB =  512, .sectorsPerBlock = 256},
    IdCase{.code = 0xD3, .twoChips = false, .blocksK =  8, .capacityMB = 1024, .sectorsPerBlock = 256},
    IdCase{.code = 0xD3, .twoChips = true,  .blocksK = 16, .capacityMB = 2048, .sectorsPerBlock = 256}));
// clang-format on

TEST(IdentifyChip, UnknownOrUnreadableChipShowsMessageAndFails) {
    for (bool refuse : {false, true}) {
        auto flash = std::make_shared<FakeFlash>(0xEC, 32);
        if (refuse) {
            flash->refuse = [](const CommandDescription&) { return true; };
        }
        RecordingMessageBox box;
        CFlashEngine engine(&box);
        EXPECT_EQ(engine.InitFlash(flash), 0);
        EXPECT_EQ(box.shown, std::vector<std::string>{texts::kUnknownChip});
    }
}

TEST(IdentifyChip, SecondChipWithAnotherCodeCountsAsNone) {
    auto flash = std::make_shared<FakeFlash>(0x75, 32);
    flash->answerForChip1 = 0x73;
    CFlashEngine engine;
    engine.m_format = 1;
    ASSERT_EQ(engine.InitFlash(flash), 1);
    EXPECT_EQ(engine.m_blocksK, 2);
    EXPECT_EQ(flash->Commands(SubCommand::ReadId).size(), 3u);
}

struct KernelCase {
    std::uint8_t code;
    std::uint32_t sectorsPerBlock;
    std::vector<std::uint32_t> badBlocks;
    std::uint32_t kernelBlock;
};

TEST(KernelBlock, IsTheSecondGoodBlock) {
    const KernelCase cases[] = {
        {0x73, 32, {}, 1},        {0x73, 32, {0}, 2},     {0x73, 32, {1}, 2},
        {0x73, 32, {0, 1, 2}, 4}, {0xF1, 256, {0, 5}, 2}, {0xD3, 256, {1, 2, 3}, 4},
    };
    for (const KernelCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "chip " << int{c.code} << " bad " << c.badBlocks.size());
        auto flash = std::make_shared<FakeFlash>(c.code, c.sectorsPerBlock);
        const int mark = BadBlockMarkByte(c.sectorsPerBlock == 256);
        for (std::uint32_t b : c.badBlocks) {
            flash->MarkBad(b, mark);
        }
        WriteKernelBlock(*flash, c.kernelBlock * c.sectorsPerBlock);
        CFlashEngine engine;
        ASSERT_EQ(engine.InitFlash(flash), 1);
        EXPECT_EQ(engine.KernelBlockSector(), c.kernelBlock * c.sectorsPerBlock);
    }
}

TEST(BadBlockMark, ByteDependsOnPageSizeAndBothSectorsCount) {
    // Small-page chips keep the mark in spare byte 5, large-page chips in byte 0.
    for (bool large : {false, true}) {
        const std::uint32_t spb = large ? 256 : 32;
        auto flash = std::make_shared<FakeFlash>(large ? 0xF1 : 0x73, spb);
        flash->SetMark(0, large ? 5 : 0, 0x00);        // the other chip kind's byte: ignored
        flash->SetMark(spb + 1, large ? 0 : 5, 0x00);  // second sector alone marks block 1 bad
        CFlashEngine engine;
        engine.m_format = 1;
        ASSERT_EQ(engine.InitFlash(flash), 1);
        std::uint32_t sector = 0;
        engine.FindGoodBlockForward(sector);
        EXPECT_EQ(sector, 0u) << "large " << large;
        sector = spb;
        engine.FindGoodBlockForward(sector);
        EXPECT_EQ(sector, 2 * spb) << "large " << large;
    }
}

class Walks : public ::testing::Test {
protected:
    void SetUp() override {
        flash = std::make_shared<FakeFlash>(0x73, 32);
        engine.m_format = 1;
        ASSERT_EQ(engine.InitFlash(flash), 1);
        flash->log.clear();
    }
    std::shared_ptr<FakeFlash> flash;
    CFlashEngine engine;
};

TEST_F(Walks, ForwardAtOrPastTheEndSendsNothing) {
    std::uint32_t sector = 32768;
    EXPECT_EQ(engine.FindGoodBlockForward(sector), 0);
    EXPECT_EQ(sector, 32768u);
    EXPECT_TRUE(flash->log.empty());
}

TEST_F(Walks, ForwardOffTheEndStopsAtTheEnd) {
    flash->MarkBad(1022, 5);
    flash->MarkBad(1023, 5);
    std::uint32_t sector = 1022 * 32;
    EXPECT_EQ(engine.FindGoodBlockForward(sector), 1);
    EXPECT_EQ(sector, 32768u);
    // A walk from inside a block tests that sector and the next, and overshoots the end.
    flash->SetMark(1022 * 32 + 8, 5, 0x00);
    flash->SetMark(1023 * 32 + 8, 5, 0x00);
    std::uint32_t inside = 1022 * 32 + 7;
    engine.FindGoodBlockForward(inside);
    EXPECT_EQ(inside, 32768u + 7);
}

TEST_F(Walks, ForwardStopsWhenASpareReadFails) {
    flash->MarkBad(3, 5);
    flash->refuse = [](const CommandDescription& c) {
        return c.Sub() == SubCommand::ReadSpare && c.Argument() == 3 * 32;
    };
    std::uint32_t sector = 3 * 32;
    EXPECT_EQ(engine.FindGoodBlockForward(sector), 0);
    EXPECT_EQ(sector, 4u * 32) << "moved one block, then stopped";
    EXPECT_EQ(flash->log.size(), 2u);
}

TEST_F(Walks, BackwardBelowBlockZeroEnds) {
    for (std::uint32_t b = 0; b < 4; ++b) {
        flash->MarkBad(b, 5);
    }
    std::int32_t sector = 3 * 32;
    EXPECT_EQ(engine.FindGoodBlockBackward(sector), 0);
    EXPECT_EQ(sector, -32);

    // From inside a block the walk never meets -32 exactly: it must still end below sector 0.
    flash->log.clear();
    for (std::uint32_t tested : {6u, 38u, 70u}) {
        flash->SetMark(tested, 5, 0x00);
    }
    sector = 2 * 32 + 5;
    EXPECT_EQ(engine.FindGoodBlockBackward(sector), 0);
    EXPECT_EQ(sector, 5 - 32);
    EXPECT_EQ(flash->log.size(), 6u) << "three blocks tested, nothing below sector 0";
    sector = -7;
    EXPECT_EQ(engine.FindGoodBlockBackward(sector), 0);
    EXPECT_EQ(sector, -7);
}

TEST(KernelBlock, ChecksumOfErasedSectors) {
    // Six erased sectors sum to 3072 * 255 = 0x000BF400.
    auto flash = std::make_shared<FakeFlash>(0x73, 32);
    CFlashEngine engine;
    engine.m_format = 1;
    ASSERT_EQ(engine.InitFlash(flash), 1);
    EXPECT_EQ(engine.CheckKernelBlock(32), 1);
    FakeFlash::Sector checksum;
    checksum.fill(0xFF);
    checksum[0] = 0x00;
    checksum[1] = 0x0B;
    checksum[2] = 0xF4;
    checksum[3] = 0x00;
    flash->data[32 + 4] = checksum;
    EXPECT_EQ(engine.CheckKernelBlock(32), 0);
    checksum[3] = 0x01;
    flash->data[32 + 4] = checksum;
    EXPECT_EQ(engine.CheckKernelBlock(32), 1);
}

TEST(KernelBlock, MismatchShowsMessageAndLeavesTablesCleared) {
    auto flash = std::make_shared<FakeFlash>(0x73, 32);
    WriteKernelBlock(*flash, 32);
    flash->data[32 + 3][100] ^= 1;
    RecordingMessageBox box;
    CFlashEngine engine(&box);
    engine.m_layout.fill(7);
    EXPECT_EQ(engine.InitFlash(flash), 0);
    EXPECT_EQ(box.shown, std::vector<std::string>{texts::kKernelChecksum});
    EXPECT_EQ(engine.m_layout[kSlotFont], 0);
    EXPECT_EQ(engine.m_layout[kSlotImPm], 0);
    EXPECT_EQ(engine.m_layout[90], 0);
    EXPECT_EQ(engine.m_layout[kSlotUitBackup], 7) << "backup slots survive";
    EXPECT_EQ(engine.m_layout[kSlotImPmBackup], 7);
}

TEST(KernelBlock, UnreadableSectorsFailTheIdentification) {
    // A player that answers no read leaves zero-filled buffers whose sum matches a zero
    // checksum; trusting that would send every image to block 0.
    {
        auto flash = std::make_shared<FakeFlash>(0x73, 32);
        flash->refuse = [](const CommandDescription& c) {
            return c.Sub() == SubCommand::ReadSector;
        };
        RecordingMessageBox box;
        CFlashEngine engine(&box);
        EXPECT_EQ(engine.InitFlash(flash), 0);
        EXPECT_EQ(box.shown, std::vector<std::string>{texts::kKernelChecksum});
    }
    // The checksum reads succeed, the second read of the IM/PM table does not.
    {
        auto flash = std::make_shared<FakeFlash>(0x73, 32);
        WriteKernelBlock(*flash, 32);
        int reads = 0;
        flash->refuse = [&reads](const CommandDescription& c) {
            return c.Sub() == SubCommand::ReadSector && c.Argument() == 32 + 5 && ++reads == 2;
        };
        RecordingMessageBox box;
        CFlashEngine engine(&box);
        EXPECT_EQ(engine.InitFlash(flash), 0);
        EXPECT_EQ(box.shown, std::vector<std::string>{texts::kKernelRead});
    }
}

struct LayoutCase {
    std::uint8_t code;
    std::uint32_t sectorsPerBlock;
    bool twoChips;
    int imPmEntries;
    int secondEntries;
};

TEST(LayoutTable, LoadsTheSlotsOfEachGeometry) {
    const LayoutCase cases[] = {
        {0x73, 32, false, 40, 16}, {0xF1, 256, false, 5, 2}, {0xD3, 256, true, 5, 2}};
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(int{c.code});
        auto flash = std::make_shared<FakeFlash>(c.code, c.sectorsPerBlock, c.twoChips);
        WriteKernelBlock(*flash, c.sectorsPerBlock);
        CFlashEngine engine;
        engine.m_layout.fill(-1);
        ASSERT_EQ(engine.InitFlash(flash), 1);
        const int k = engine.m_blocksK;
        for (int i = 0; i < 20; ++i) {
            const bool loaded = i >= k && i <= k + 3;
            EXPECT_EQ(engine.m_layout[i], loaded ? 2000 + i : -1) << "slot " << i;
        }
        EXPECT_EQ(engine.m_layout[kSlotFont], 3000);
        for (int j = 0; j < 50; ++j) {
            EXPECT_EQ(engine.m_layout[41 + j], j < c.imPmEntries ? 6000 + j : 0)
                << "slot " << 41 + j;
        }
        for (int j = 0; j < 16; ++j) {
            EXPECT_EQ(engine.m_layout[21 + j], j < c.secondEntries ? 7000 + j : -1);
        }
    }
}

}  // namespace
}  // namespace qdx::test
