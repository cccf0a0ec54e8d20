// Start blocks of the backup areas.
#include <gtest/gtest.h>

#include <memory>

#include "engine/CFlashEngine.h"
#include "tests/engine/FakeFlash.h"

namespace qdx::test {
namespace {

struct PlanCase {
    const char* name;
    std::uint8_t code;
    std::uint32_t sectorsPerBlock;
    bool twoChips;
    std::vector<std::uint32_t> badBlocks;
    std::int32_t uitOffset;
    std::int32_t slot91, slot94, slot93, slot92;
};

TEST(PlanBackupAreas, WorkedExamples) {
    const PlanCase cases[] = {
        {"16 MB", 0x73, 32, false, {}, 0, 1021, 981, 941, 925},
        {"128 MB large page", 0xF1, 256, false, {}, 0, 1021, 1016, 1011, 1009},
        {"two 16 MB", 0x73, 32, true, {}, 0, 1020, 980, 940, 924},
        {"128 MB small page", 0x79, 32, false, {}, 0, 1014, 974, 934, 918},
        {"16 MB, bad 1022 and 990", 0x73, 32, false, {1022, 990}, 0, 1020, 979, 939, 923},
        {"block 1023 bad", 0x73, 32, false, {1023}, 0, 1020, 980, 940, 924},
        {"bad below slot 92 moves nothing", 0x73, 32, false, {900}, 0, 1021, 981, 941, 925},
        {"uit offset moves slot 91 only", 0x73, 32, false, {}, 2, 1013, 981, 941, 925},
        {"uit offset, large page", 0xF1, 256, false, {}, 4, 1019, 1016, 1011, 1009},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto flash = std::make_shared<FakeFlash>(c.code, c.sectorsPerBlock, c.twoChips);
        for (std::uint32_t b : c.badBlocks) {
            flash->MarkBad(b, BadBlockMarkByte(c.sectorsPerBlock == 256));
        }
        CFlashEngine engine;
        engine.m_format = 1;
        ASSERT_EQ(engine.InitFlash(flash), 1);
        engine.m_uitOffset = c.uitOffset;
        flash->log.clear();
        EXPECT_EQ(engine.PlanBackupAreas(), 1);
        EXPECT_EQ(engine.m_layout[kSlotUitBackup], c.slot91);
        EXPECT_EQ(engine.m_layout[kSlotImPmBackup], c.slot94);
        EXPECT_EQ(engine.m_layout[kSlotReserved], c.slot93);
        EXPECT_EQ(engine.m_layout[kSlotFontBackup], c.slot92);
        for (const LoggedCommand& command : flash->log) {
            EXPECT_EQ(command.sub, SubCommand::ReadSpare) << "planning only reads spare bytes";
        }
    }
}

TEST(PlanBackupAreas, AllBadBelowTheTopEndsWithoutRunningAway) {
    // Every block bad: the walk leaves the flash below block 0 and must end there.
    auto flash = std::make_shared<FakeFlash>(0x73, 32);
    for (std::uint32_t b = 0; b < 1024; ++b) {
        flash->MarkBad(b, 5);
    }
    CFlashEngine engine;
    engine.m_format = 1;
    ASSERT_EQ(engine.InitFlash(flash), 1);
    flash->log.clear();
    EXPECT_EQ(engine.PlanBackupAreas(), 1);
    EXPECT_EQ(flash->log.size(), 2u * 1024) << "each block tested once";
}

}  // namespace
}  // namespace qdx::test
