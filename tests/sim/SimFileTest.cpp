#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/SimFile.h"
#include "sim/SimPlayer.h"

namespace qdx::sim {
namespace {

namespace fs = std::filesystem;
using Sector = std::array<std::uint8_t, kSectorBytes>;

class SimFileTest : public testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::path(testing::TempDir()) /
                ("sim_file_" +
                 std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string PathOf(const char* name) const { return (m_dir / name).string(); }

    static std::string ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void WriteAll(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    // A small player with written, erased and bad blocks, saved to `path`.
    static std::unique_ptr<SimPlayer> SavedPlayer(const std::string& path) {
        std::string error;
        auto player = SimPlayer::CreateFactory(0x73, true, {4, 1500}, &error);
        EXPECT_NE(player, nullptr) << error;
        Sector data;
        for (std::uint32_t sector : {300u * 32, 300u * 32 + 31, 2047u * 32 + 7, 700u * 32}) {
            data.fill(static_cast<std::uint8_t>(sector * 7));
            player->Program(sector, data.data());
        }
        player->EraseBlock(700);
        EXPECT_TRUE(player->Save(path, &error)) << error;
        return player;
    }

    fs::path m_dir;
};

// Compares every sector's data and spare bytes; the first difference, or none.
std::string FirstDifference(const SimPlayer& a, const SimPlayer& b) {
    std::array<std::uint8_t, kRawSectorBytes> left, right;
    for (std::uint32_t sector = 0; sector < a.TotalSectors(); ++sector) {
        a.ReadData(sector, left.data());
        a.ReadSpare(sector, left.data() + kSectorBytes);
        b.ReadData(sector, right.data());
        b.ReadSpare(sector, right.data() + kSectorBytes);
        if (left != right) {
            return "sector " + std::to_string(sector);
        }
    }
    return "none";
}

TEST_F(SimFileTest, RoundTripKeepsChipBadBlocksAndEveryByte) {
    const std::string path = PathOf("player.qdxsim");
    auto saved = SavedPlayer(path);
    std::string error;
    auto loaded = SimPlayer::Load(path, &error);
    ASSERT_NE(loaded, nullptr) << error;
    EXPECT_EQ(loaded->DeviceCode(), 0x73);
    EXPECT_TRUE(loaded->TwoChips());
    EXPECT_EQ(loaded->FactoryBadBlocks(), (std::vector<std::uint32_t>{4, 1500}));
    EXPECT_EQ(FirstDifference(*saved, *loaded), "none");
    // Only the file itself is left: the temporary file was renamed over it.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST_F(SimFileTest, SaveReplacesAnExistingFile) {
    const std::string path = PathOf("player.qdxsim");
    WriteAll(path, "old contents");
    SavedPlayer(path);
    std::string error;
    EXPECT_NE(SimPlayer::Load(path, &error), nullptr) << error;
}

TEST_F(SimFileTest, DamagedFilesAreRefusedWithAMessage) {
    const std::string path = PathOf("player.qdxsim");
    SavedPlayer(path);
    const std::string good = ReadAll(path);
    ASSERT_GT(good.size(), 100u);
    auto flipped = [&](std::size_t at) {
        std::string bytes = good;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
        return bytes;
    };
    auto withCount = [&](std::size_t at, std::uint32_t count) {
        std::string bytes = good;
        PutBigEndian32(reinterpret_cast<std::uint8_t*>(&bytes[at]), count);
        return bytes;
    };
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"header cut short", good.substr(0, 10)},
        {"last byte missing", good.substr(0, good.size() - 1)},
        {"record cut in half", good.substr(0, good.size() - 300)},
        {"trailing byte", good + '\0'},
        {"magic", flipped(0)},
        {"version", flipped(9)},
        {"unknown chip", flipped(10)},
        {"flags", flipped(11)},
        {"huge bad-block count", withCount(12, 0xFFFFFFFF)},
        {"huge sector count", withCount(16, 0xFFFFFFFF)},
        {"bad-block number", flipped(21)},
        {"sector data", flipped(good.size() / 2)},
        {"crc", flipped(good.size() - 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteAll(path, c.bytes);
        std::string error;
        EXPECT_EQ(SimPlayer::Load(path, &error), nullptr);
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    std::string error;
    EXPECT_EQ(SimPlayer::Load(PathOf("missing.qdxsim"), &error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST_F(SimFileTest, WellFramedFilesWithImpossibleContentAreRefused) {
    // The checksum holds here, so only the structural checks stand between the file and the flash.
    struct Record {
        std::uint32_t sector;
        std::uint8_t fill;
    };
    struct Case {
        const char* name;
        std::vector<std::uint32_t> bad;
        std::vector<Record> records;
        bool loads = false;
    };
    const Case cases[] = {
        {"well-formed control", {3, 9}, {{70, 0x5A}, {69 * 32, 0}}, true},
        {"bad block outside the flash", {1024}, {}},
        {"bad blocks out of order", {9, 3}, {}},
        {"sector outside the flash", {}, {{32768, 0}}},
        {"sectors out of order", {}, {{70, 0}, {69, 0}}},
        {"sector twice", {}, {{70, 0}, {70, 1}}},
        {"sector inside a bad block", {2}, {{64, 0}}},
    };
    const std::string path = PathOf("crafted.qdxsim");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream out;
        FileWriter writer(out);
        FileHeader header;
        header.deviceCode = 0x73;
        header.badBlockCount = static_cast<std::uint32_t>(c.bad.size());
        header.sectorCount = static_cast<std::uint32_t>(c.records.size());
        WriteHeader(writer, header);
        for (std::uint32_t block : c.bad) {
            writer.Put32(block);
        }
        for (const Record& record : c.records) {
            writer.Put32(record.sector);
            const std::vector<std::uint8_t> raw(kRawSectorBytes, record.fill);
            writer.Put(raw.data(), raw.size());
        }
        writer.FinishWithCrc();
        WriteAll(path, out.str());
        std::string error;
        auto player = SimPlayer::Load(path, &error);
        EXPECT_EQ(player != nullptr, c.loads) << error;
        EXPECT_EQ(error.empty(), c.loads);
        if (player) {
            Sector data;
            player->ReadData(70, data.data());
            EXPECT_EQ(data[0], 0x5A);
        }
    }
}

}  // namespace
}  // namespace qdx::sim
