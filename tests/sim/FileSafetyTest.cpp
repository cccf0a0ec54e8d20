// Player files and outputs: what a save keeps (the link, the mode), what it never leaves behind
// (a partial file, a temporary one), what it refuses (a device, a FIFO), and the lock that keeps a
// second program off a player file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/AtomicFile.h"
#include "sim/PlayerFileLock.h"
#include "sim/SimPlayer.h"

namespace qdx::sim {
namespace {

namespace fs = std::filesystem;

class FileSafetyTest : public testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::path(testing::TempDir()) /
                ("file_safety_" +
                 std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        std::string error;
        m_player = SimPlayer::CreateFactory(0x73, false, {5}, &error);
        ASSERT_NE(m_player, nullptr) << error;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Path(const char* name) const { return (m_dir / name).string(); }
    static std::string ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::size_t Entries() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()));
    }

    fs::path m_dir;
    std::unique_ptr<SimPlayer> m_player;
};

TEST_F(FileSafetyTest, SavingThroughALinkKeepsTheLinkAndTheFilesMode) {
    const std::string real = Path("real.sim");
    const std::string link = Path("link.sim");
    std::string error;
    ASSERT_TRUE(m_player->Save(real, &error)) << error;
    ASSERT_EQ(::chmod(real.c_str(), 0440), 0);
    fs::create_symlink("real.sim", link);

    m_player->EraseBlock(1);  // something changed, so the file changes
    ASSERT_TRUE(m_player->Save(link, &error)) << error;
    EXPECT_TRUE(fs::is_symlink(link)) << "the link is not replaced by a file";
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0440u);
    EXPECT_NE(SimPlayer::Load(link, &error), nullptr) << error;
    EXPECT_EQ(Entries(), 2u) << "no temporary file is left";
}

TEST_F(FileSafetyTest, AFailedWriteLeavesTheTargetAsItWasAndNoTemporaryFile) {
    const std::string target = Path("raw.bin");
    std::ofstream(target) << "what was there";
    AtomicFile file;
    std::string error;
    ASSERT_TRUE(file.Open(target, AtomicFile::NonRegular::WriteDirectly, &error)) << error;
    file.Stream() << "half of the new contents";
    file.Discard();  // the writer gave up, as on a full disk
    EXPECT_EQ(ReadAll(target), "what was there");
    EXPECT_EQ(Entries(), 1u);

    ASSERT_TRUE(file.Open(target, AtomicFile::NonRegular::WriteDirectly, &error)) << error;
    file.Stream() << "new";
    ASSERT_TRUE(file.Commit(&error)) << error;
    EXPECT_EQ(ReadAll(target), "new");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(FileSafetyTest, ANameAtTheSystemsLimitStillSaves) {
    // A suffix on the target's own name would pass the 255-byte limit of a name.
    const std::string name(250, 'p');
    const std::string target = (m_dir / (name + ".sim")).string();
    std::string error;
    EXPECT_TRUE(m_player->Save(target, &error)) << error;
}

TEST_F(FileSafetyTest, PlayerFilesAreRegularFilesAndNothingElse) {
    const std::string fifo = Path("pipe.sim");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    fs::create_directory(Path("folder.sim"));
    struct Case {
        std::string path;
        const char* says;
    };
    const Case cases[] = {
        {fifo, "not a regular file"},
        {"/dev/null", "not a regular file"},
        {Path("folder.sim"), "directory"},
        {Path("absent.sim"), "no such file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string error;
        EXPECT_EQ(SimPlayer::Load(c.path, &error), nullptr);  // and it did not block on the FIFO
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        if (c.path != Path("absent.sim")) {
            error.clear();
            EXPECT_FALSE(m_player->Save(c.path, &error));
            EXPECT_FALSE(error.empty());
        }
    }
    struct stat info {};
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the FIFO was not replaced by a file";
}

TEST_F(FileSafetyTest, AnOutputOntoADeviceIsWrittenDirectlyAndItsErrorsAreReported) {
    AtomicFile file;
    std::string error;
    ASSERT_TRUE(file.Open("/dev/full", AtomicFile::NonRegular::WriteDirectly, &error)) << error;
    file.Stream() << std::string(100000, 'x');
    EXPECT_FALSE(file.Commit(&error));
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
    EXPECT_FALSE(file.Open("/dev/full", AtomicFile::NonRegular::Refuse, &error));
}

TEST_F(FileSafetyTest, OneProgramAtATimeHoldsAPlayerFileAlsoAcrossASave) {
    const std::string path = Path("p.sim");
    std::string error;
    ASSERT_TRUE(m_player->Save(path, &error)) << error;
    PlayerFileLock first;
    PlayerFileLock second;
    ASSERT_EQ(first.Acquire(path, &error), PlayerFileLock::Result::Locked) << error;
    EXPECT_EQ(second.Acquire(path, &error), PlayerFileLock::Result::Busy);

    // The holder's save is its last write: a new file takes the old one's place, and the next
    // program may take that one at once, while nobody else may.
    ASSERT_TRUE(m_player->Save(path, &error)) << error;
    EXPECT_EQ(second.Acquire(path, &error), PlayerFileLock::Result::Locked) << error;
    PlayerFileLock third;
    EXPECT_EQ(third.Acquire(path, &error), PlayerFileLock::Result::Busy);
    first.Release();
    EXPECT_EQ(third.Acquire(path, &error), PlayerFileLock::Result::Busy);
}

TEST(SameFile, SeesThroughLinksAndNamesNothingThatDoesNotExist) {
    const fs::path dir = fs::path(testing::TempDir()) / "same_file";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream((dir / "a").string()) << "a";
    fs::create_symlink("a", dir / "link");
    fs::create_hard_link(dir / "a", dir / "hard");
    EXPECT_TRUE(SameFile((dir / "a").string(), (dir / "link").string()));
    EXPECT_TRUE(SameFile((dir / "a").string(), (dir / "hard").string()));
    EXPECT_FALSE(SameFile((dir / "a").string(), (dir / "absent").string()));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace qdx::sim
