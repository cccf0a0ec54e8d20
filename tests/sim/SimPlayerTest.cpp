#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include "engine/facts/ChipTable.h"
#include "sim/SimPlayer.h"
#include "tests/sim/SimFixtures.h"

namespace qdx::sim {
namespace {

using namespace qdx::sim::test;

TEST(SimPlayerNand, ProgrammingOnlyClearsBitsAndEraseRestoresFF) {
    // Guards against a flash that overwrites, which would hide a missing erase in the writer.
    auto player = Factory(0x73, false);
    const std::uint32_t sector = 100 * 32 + 3;
    player->Program(sector, Filled(0xF0).data());
    player->Program(sector, Filled(0x3C).data());
    EXPECT_EQ(Stored(*player, sector), Filled(0x30));
    Spare erasedSpare;
    erasedSpare.fill(0xFF);
    EXPECT_EQ(StoredSpare(*player, sector), erasedSpare)
        << "programming data leaves the spare alone";
    EXPECT_EQ(Stored(*player, sector + 1), Filled(0xFF)) << "neighbour untouched";

    player->EraseBlock(100);
    EXPECT_EQ(Stored(*player, sector), Filled(0xFF));
    player->Program(sector, Filled(0x5A).data());
    EXPECT_EQ(Stored(*player, sector), Filled(0x5A));
}

TEST(SimPlayerNand, FactoryBadBlocksKeepTheirMarksThroughEraseProgramAndFormat) {
    // A mark lost to an erase or format would let the host write into a bad block.
    struct Case {
        std::uint8_t code;
        std::uint32_t badBlock;
    };
    for (const Case& c : {Case{0x73, 1}, Case{0xF1, 40}, Case{0x79, 8000}}) {
        SCOPED_TRACE(testing::Message() << "chip 0x" << std::hex << int{c.code});
        auto player = Factory(c.code, false, {c.badBlock});
        const std::uint32_t first = c.badBlock * player->SectorsPerBlock();
        const int markByte = BadBlockMarkByte(player->LargePage() ? 1 : 0);
        const auto expectMarked = [&] {
            EXPECT_NE(StoredSpare(*player, first)[markByte], 0xFF);
            EXPECT_NE(StoredSpare(*player, first + 1)[markByte], 0xFF);
        };
        expectMarked();
        const Sector before = Stored(*player, first + 2);
        player->EraseBlock(c.badBlock);
        expectMarked();
        player->Program(first + 2, Filled(0x00).data());
        player->Format();
        expectMarked();
        EXPECT_EQ(Stored(*player, first + 2), before);
    }
}

TEST(SimPlayerNand, FormatErasesEveryGoodBlockAndRewritesTheKernelBlock) {
    auto player = Factory(0xF1, false);
    const std::uint32_t spb = player->SectorsPerBlock();
    std::stringstream factory;
    ASSERT_TRUE(player->ExportRaw(factory, 0, 2));
    for (std::uint32_t block : {0u, 1u, 500u, 1023u}) {
        player->Program(block * spb + 9, Filled(0x11).data());
    }
    player->Program(spb, Filled(0x00).data());  // the kernel block's first sector
    EXPECT_TRUE(player->Format());
    std::stringstream formatted;
    ASSERT_TRUE(player->ExportRaw(formatted, 0, 2));
    EXPECT_TRUE(factory.str() == formatted.str());
    for (std::uint32_t block : {500u, 1023u}) {
        EXPECT_EQ(Stored(*player, block * spb + 9), Filled(0xFF)) << block;
    }
}

TEST(SimPlayerFactory, RefusesUnknownChipsAndBadBlocksOutsideTheFlash) {
    std::string error;
    EXPECT_EQ(SimPlayer::CreateFactory(0xEC, false, {}, &error), nullptr);
    EXPECT_NE(error.find("chip"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(SimPlayer::CreateFactory(0x73, false, {1024}, &error), nullptr);
    EXPECT_NE(error.find("1024"), std::string::npos) << error;
    // The same block exists once a second chip doubles the flash.
    EXPECT_NE(SimPlayer::CreateFactory(0x73, true, {1024, 2047}, &error), nullptr) << error;
}

TEST(SimPlayerFactory, RefusesAFlashWhoseFirmwareAreasCannotFit) {
    std::vector<std::uint32_t> bad;
    for (std::uint32_t block = 0; block < 900; ++block) {
        bad.push_back(block);
    }
    std::string error;
    EXPECT_EQ(SimPlayer::CreateFactory(0x73, false, bad, &error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(SimPlayerExport, WritesDataThenSpareForEverySectorOfTheRange) {
    auto player = Factory(0x73, false, {6});
    player->Program(5 * 32 + 31, Filled(0x42).data());
    std::ostringstream out;
    ASSERT_TRUE(player->ExportRaw(out, 5, 6));
    const std::string raw = out.str();
    ASSERT_EQ(raw.size(), 2u * 32 * kRawSectorBytes);
    const std::size_t last = 31 * kRawSectorBytes;  // last sector of block 5
    EXPECT_EQ(raw.substr(last, kSectorBytes), std::string(kSectorBytes, '\x42'));
    EXPECT_EQ(raw.substr(last + kSectorBytes, kSpareBytes), std::string(kSpareBytes, '\xFF'));
    EXPECT_EQ(raw.substr(last - kRawSectorBytes, kRawSectorBytes),
              std::string(kRawSectorBytes, '\xFF'));
    // Block 6 is bad: its mark byte in sector 0's spare is not erased.
    EXPECT_NE(static_cast<std::uint8_t>(raw[32 * kRawSectorBytes + kSectorBytes + 5]), 0xFF);

    std::ostringstream refused;
    EXPECT_FALSE(player->ExportRaw(refused, 6, 5));
    EXPECT_FALSE(player->ExportRaw(refused, 0, 1024));
    EXPECT_TRUE(refused.str().empty());
}

}  // namespace
}  // namespace qdx::sim
