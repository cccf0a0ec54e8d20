// The image writer: segments, block preparation, both directions, verification and failures.
#include <gtest/gtest.h>

#include <memory>

#include "engine/CFlashEngine.h"
#include "tests/engine/FakeFlash.h"
#include "tests/engine/ImageFixtures.h"
#include "tests/engine/RecordingPorts.h"

namespace qdx::test {
namespace {

struct SplitCase {
    std::int32_t sectorsPerBlock;
    std::int32_t sectorOffset;
    std::int32_t payloadSectors;
    std::vector<std::int32_t> lengths;
    std::int32_t firstStart;
};

TEST(SplitSegments, CutsThePayloadAtBlockBoundaries) {
    const SplitCase cases[] = {
        {32, 0, 289, {32, 32, 32, 32, 32, 32, 32, 32, 32, 1}, 0},  // built-in image, small page
        {256, 0, 289, {256, 33}, 0},                               // built-in image, large page
        {32, 0, 64, {32, 32}, 0},  // ends on a boundary: no empty segment
        {32, 5, 10, {10}, 5},      // inside one block
        {32, 5, 27, {27}, 5},      // offset, ends exactly at the block's end
        {32, 5, 40, {27, 13}, 5},  // offset, runs into the next block
        {32, 7, 0, {0}, 7},        // empty payload: one empty segment
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.sectorsPerBlock << "/" << c.sectorOffset << "/" << c.payloadSectors);
        CFlashEngine engine;
        engine.m_sectorsPerBlock = c.sectorsPerBlock;
        engine.SplitSegments(c.sectorOffset, c.payloadSectors * 512);
        ASSERT_EQ(engine.m_segCount, static_cast<std::int32_t>(c.lengths.size()));
        for (int i = 0; i < engine.m_segCount; ++i) {
            EXPECT_EQ(engine.m_segLen[i], c.lengths[i]);
            const std::int32_t start = i == 0 ? c.firstStart : i * c.sectorsPerBlock;
            EXPECT_EQ(engine.m_segStart[i], start);
            EXPECT_EQ(engine.m_segEnd[i], start + c.lengths[i] - 1);
        }
    }
}

TEST(SplitSegments, StopsAtOneHundredSegments) {
    CFlashEngine engine;
    engine.m_sectorsPerBlock = 32;
    engine.SplitSegments(0, 3300 * 512);
    EXPECT_EQ(engine.m_segCount, 100);
    EXPECT_EQ(engine.m_segEnd[99], 3199);
}

class Writer : public ::testing::Test {
protected:
    void Init(std::uint8_t code, std::uint32_t sectorsPerBlock) {
        flash = std::make_shared<FakeFlash>(code, sectorsPerBlock);
        engine.m_format = 1;
        ASSERT_EQ(engine.InitFlash(flash), 1);
        flash->log.clear();
    }
    // Checks that sectors [first, first + count) hold payload sectors [from, from + count).
    void ExpectPayload(const std::vector<std::uint8_t>& image, std::uint32_t first,
                       std::uint32_t count, std::uint32_t from) {
        for (std::uint32_t k = 0; k < count; ++k) {
            const FakeFlash::Sector s = flash->DataOf(first + k);
            for (std::size_t b = 0; b < kSectorBytes; ++b) {
                const std::size_t at = 512 + (from + k) * kSectorBytes + b;
                const std::uint8_t expected = at < image.size() ? image[at] : 0;
                ASSERT_EQ(s[b], expected) << "sector " << first + k << " byte " << b;
            }
        }
    }
    std::size_t CountOf(SubCommand sub) const { return flash->Commands(sub).size(); }

    TempDir dir;
    std::shared_ptr<FakeFlash> flash;
    RecordingMessageBox box;
    CFlashEngine engine{&box};
    RecordingSink sink;
};

TEST_F(Writer, ForwardCopyOfTheBuiltInImageShape) {
    Init(0x73, 32);
    const auto image = MakeImage(289 * 512);
    // The tenth block has older content that must survive around the last payload sector.
    FakeFlash::Sector old;
    old.fill(0x3C);
    for (std::uint32_t s = 109 * 32; s < 110 * 32; ++s) {
        flash->data[s] = old;
    }
    engine.m_pSink = &sink;
    ASSERT_EQ(engine.WriteImage(100, 0, dir.Write("a.img", image), 1, 0), 1);
    ExpectPayload(image, 100 * 32, 289, 0);
    for (std::uint32_t s = 109 * 32 + 1; s < 110 * 32; ++s) {
        EXPECT_EQ(flash->DataOf(s), old) << "kept sector " << s;
    }
    EXPECT_EQ(CountOf(SubCommand::EraseBlock), 10u);
    EXPECT_EQ(CountOf(SubCommand::SetWriteTag), 2u) << "one per image, one per kept block";
    EXPECT_EQ(CountOf(SubCommand::WriteSector), 289u + 31u);
    EXPECT_EQ(engine.m_progress, 42);
    EXPECT_EQ(box.shown.size(), 0u);
}

TEST_F(Writer, LargePageProgressAndBackwardProgress) {
    Init(0xF1, 256);
    const auto path = dir.Write("a.img", MakeImage(289 * 512));
    engine.m_pSink = &sink;
    ASSERT_EQ(engine.WriteImage(50, 0, path, 1, 0), 1);
    EXPECT_EQ(engine.m_progress, 10);
    ASSERT_EQ(engine.WriteImage(1016, 0, path, 1, 1), 1);
    EXPECT_EQ(engine.m_progress, 16);
}

TEST_F(Writer, BackwardCopySkipsBadBlocksAndVerifiesTheSameBlocks) {
    Init(0x73, 32);
    flash->MarkBad(978, 5);
    const auto image = MakeImage(289 * 512, 7);
    ASSERT_EQ(engine.WriteImage(981, 0, dir.Write("a.img", image), 1, 1), 1);
    const std::uint32_t blocks[] = {981, 980, 979, 977, 976, 975, 974, 973, 972, 971};
    for (std::uint32_t i = 0; i < 10; ++i) {
        ExpectPayload(image, blocks[i] * 32, i == 9 ? 1 : 32, i * 32);
    }
    EXPECT_EQ(flash->DataOf(978 * 32)[0], 0xFF) << "the bad block is not written";
}

TEST_F(Writer, OffsetInsideOneBlockKeepsHeadAndTailInOrder) {
    Init(0x73, 32);
    for (std::uint32_t s = 200 * 32; s < 201 * 32; ++s) {
        FakeFlash::Sector old;
        old.fill(static_cast<std::uint8_t>(s));
        flash->data[s] = old;
    }
    const auto image = MakeImage(10 * 512 - 100);  // last sector padded with zeros
    ASSERT_EQ(engine.WriteImage(200, 5, dir.Write("a.img", image), 1, 0), 1);
    ExpectPayload(image, 200 * 32 + 5, 10, 0);
    for (std::uint32_t s = 200 * 32; s < 201 * 32; ++s) {
        if (s < 200 * 32 + 5 || s >= 200 * 32 + 15) {
            EXPECT_EQ(flash->DataOf(s)[0], static_cast<std::uint8_t>(s)) << "kept sector " << s;
        }
    }
    // Kept sectors are read before the erase and written back before the segment.
    std::vector<LoggedCommand> expected = {{SubCommand::SetWriteTag, 0}};
    for (std::uint32_t s = 6400; s < 6405; ++s)
        expected.push_back({SubCommand::ReadSector, s});
    for (std::uint32_t s = 6415; s < 6432; ++s)
        expected.push_back({SubCommand::ReadSector, s});
    expected.push_back({SubCommand::EraseBlock, 6400});
    expected.push_back({SubCommand::SetWriteTag, 0});
    for (std::uint32_t s = 6400; s < 6405; ++s)
        expected.push_back({SubCommand::WriteSector, s});
    for (std::uint32_t s = 6415; s < 6432; ++s)
        expected.push_back({SubCommand::WriteSector, s});
    for (std::uint32_t s = 6405; s < 6415; ++s)
        expected.push_back({SubCommand::WriteSector, s});
    ASSERT_GE(flash->log.size(), expected.size());
    EXPECT_EQ(std::vector<LoggedCommand>(flash->log.begin(), flash->log.begin() + expected.size()),
              expected);
}

TEST_F(Writer, EmptyPayloadRewritesTheStartBlockWithItsOwnData) {
    Init(0x73, 32);
    FakeFlash::Sector old;
    old.fill(0x42);
    flash->data[300 * 32 + 3] = old;
    engine.m_pSink = &sink;
    ASSERT_EQ(engine.WriteImage(300, 0, dir.Write("e.img", MakeImage(0)), 1, 0), 1);
    EXPECT_EQ(flash->DataOf(300 * 32 + 3), old);
    EXPECT_EQ(CountOf(SubCommand::EraseBlock), 1u);
    EXPECT_EQ(engine.m_progress, 6);
}

struct FailureCase {
    const char* name;
    std::string message;
    bool touchesFlash;  // whether commands other than reads went out before the failure
};

TEST_F(Writer, FailuresEndTheWorkerWithAMessage) {
    Init(0x73, 32);
    auto good = MakeImage(64 * 512);
    auto badKey = good;
    badKey[3] = 'X';
    auto badSum = good;
    badSum[600] ^= 0x10;
    const struct {
        const char* name;
        std::string path;
        std::int32_t startBlock;
        std::int32_t maxBlocks;
        int backward;
        const char* message;
    } cases[] = {
        {"missing file", (dir.Path() / "missing.uit").string(), 100, 0, 0, texts::kFileOpen},
        {"directory", dir.Path().string(), 100, 0, 0, texts::kFileOpen},
        {"wrong key", dir.Write("k.img", badKey), 100, 0, 0, texts::kFileKey},
        {"short file", dir.Write("s.img", {'v', 'e', 'l'}), 100, 0, 0, texts::kFileKey},
        {"bad checksum", dir.Write("c.img", badSum), 100, 0, 0, texts::kFileChecksum},
        {"over 5 MiB", dir.Write("big.img", std::vector<std::uint8_t>(kImageMaxBytes + 1, 0)), 100,
         0, 0, texts::kFileSize},
        {"over 100 segments", dir.Write("seg.img", MakeImage(3201 * 512)), 100, 0, 0,
         texts::kFileSize},
        {"start past the end", dir.Write("g1.img", good), 1024, 0, 0, texts::kFlashRange},
        {"start below block 0", dir.Write("g2.img", good), -1, 0, 1, texts::kFlashRange},
        {"backup area too small", dir.Write("g3.img", good), 981, 1, 1, texts::kBackupArea},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSink failSink;
        box.shown.clear();
        flash->log.clear();
        engine.m_pSink = &failSink;
        EXPECT_THROW(engine.WriteImage(c.startBlock, 0, c.path, 1, c.backward, c.maxBlocks),
                     RecordingSink::Exited);
        EXPECT_EQ(box.shown, std::vector<std::string>{c.message});
        EXPECT_EQ(
            failSink.controls.Events(),
            (std::vector<std::string>{std::string("status:") + texts::kFailed, "progress:0"}));
        EXPECT_TRUE(flash->log.empty()) << "refused before the flash is touched";

        // Without a sink the same failure only returns 0.
        engine.m_pSink = nullptr;
        EXPECT_EQ(engine.WriteImage(c.startBlock, 0, c.path, 1, c.backward, c.maxBlocks), 0);
    }
}

TEST_F(Writer, CopiesThatLeaveTheFlashAreStoppedAtItsEdge) {
    Init(0x73, 32);
    const auto path = dir.Write("a.img", MakeImage(10 * 32 * 512));
    engine.m_pSink = &sink;
    EXPECT_THROW(engine.WriteImage(1020, 0, path, 1, 0), RecordingSink::Exited);
    EXPECT_EQ(box.shown, std::vector<std::string>{texts::kFlashRange});
    ExpectPayload(MakeImage(10 * 32 * 512), 1020 * 32, 4 * 32, 0);
    for (const LoggedCommand& c : flash->log) {
        if (c.sub != SubCommand::ReadSpare && c.sub != SubCommand::SetWriteTag) {
            EXPECT_LT(c.operand, 32768u) << "nothing written or erased past the end";
        }
    }
    box.shown.clear();
    flash->log.clear();
    EXPECT_THROW(engine.WriteImage(3, 0, path, 1, 1), RecordingSink::Exited);
    EXPECT_EQ(box.shown, std::vector<std::string>{texts::kFlashRange});
    for (const LoggedCommand& c : flash->log) {
        if (c.sub != SubCommand::SetWriteTag) {
            EXPECT_LT(c.operand, 4u * 32) << "nothing below block 0";
        }
    }
}

TEST_F(Writer, VerificationCatchesWritesThatDidNotTakeAndRefusedReads) {
    Init(0x73, 32);
    const auto image = MakeImage(64 * 512);
    const auto path = dir.Write("a.img", image);
    const struct {
        const char* name;
        SubCommand refused;
    } cases[] = {{"write refused", SubCommand::WriteSector},
                 {"read refused", SubCommand::ReadSector}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        box.shown.clear();
        flash->refuse = [&c](const CommandDescription& command) {
            return command.Sub() == c.refused && command.Argument() == 400 * 32 + 40;
        };
        RecordingSink failSink;
        engine.m_pSink = &failSink;
        EXPECT_THROW(engine.WriteImage(400, 0, path, 1, 0), RecordingSink::Exited);
        EXPECT_EQ(box.shown, std::vector<std::string>{texts::kReadBack});
        const auto statuses = failSink.controls.Statuses();
        EXPECT_EQ(statuses, (std::vector<std::string>{texts::kVerifying, texts::kFailed}));
    }
}

TEST_F(Writer, ABlockWhoseKeptSectorsCannotBeReadIsNotErased) {
    Init(0x73, 32);
    FakeFlash::Sector old;
    old.fill(0x5A);
    for (std::uint32_t s = 500 * 32; s < 501 * 32; ++s) {
        flash->data[s] = old;
    }
    flash->refuse = [](const CommandDescription& c) {
        return c.Sub() == SubCommand::ReadSector && c.Argument() == 500 * 32 + 20;
    };
    engine.m_pSink = &sink;
    EXPECT_THROW(engine.WriteImage(500, 0, dir.Write("a.img", MakeImage(4 * 512)), 1, 0),
                 RecordingSink::Exited);
    EXPECT_EQ(box.shown, std::vector<std::string>{texts::kBlockRead});
    EXPECT_EQ(CountOf(SubCommand::EraseBlock), 0u);
    EXPECT_EQ(CountOf(SubCommand::WriteSector), 0u);
    for (std::uint32_t s = 500 * 32; s < 501 * 32; ++s) {
        EXPECT_EQ(flash->DataOf(s), old) << "sector " << s << " keeps its data";
    }
}

}  // namespace
}  // namespace qdx::test
