#include "files/FirmwareFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace qdx {
namespace {

const std::string kDir = "dir";
std::string InDir(const std::string& name) {
    return kDir + kPathSeparator + name;
}

struct DiscoveryCase {
    const char* why;
    std::vector<std::string> listing;
    const char* pattern;
    std::string expected;  // entry name, or empty for no match
};

TEST(FindFileInProgramDir, FollowsTheMatchingRules) {
    const std::vector<DiscoveryCase> cases = {
        {"lower-case name", {"readme.txt", "player.uit", "font.hzk"}, ".uit", "player.uit"},
        {"lower-case font", {"readme.txt", "player.uit", "font.hzk"}, ".hzk", "font.hzk"},
        {"upper-case name", {"PLAYER.UIT"}, ".uit", "PLAYER.UIT"},
        {"mixed case matches neither", {"Player.Uit"}, ".uit", ""},
        {"pattern anywhere in the name", {"old.uit.bak"}, ".uit", "old.uit.bak"},
        {"directories are entries too", {"res.uit"}, ".uit", "res.uit"},
        {"dot names are skipped", {".", "..", ".uit", ".hidden.uit"}, ".uit", ""},
        {"skipped dot name before a match", {".uit", "b.uit"}, ".uit", "b.uit"},
        {"first in listing order wins", {"z.uit", "a.uit"}, ".uit", "z.uit"},
        {"upper-case entry listed first wins", {"B.UIT", "a.uit"}, ".uit", "B.UIT"},
        {"empty listing", {}, ".uit", ""},
        {"empty name is ignored", {"", "x.uit"}, ".uit", "x.uit"},
        {"upper-case pattern given", {"player.uit"}, ".UIT", "player.uit"},
    };
    for (const DiscoveryCase& c : cases) {
        std::string expected = c.expected.empty() ? "" : InDir(c.expected);
        EXPECT_EQ(FindFileInProgramDir(kDir, c.listing, c.pattern), expected) << c.why;
    }
}

TEST(FindFileInProgramDir, KeepsPathsLongerThanTheOldSlots) {
    // Paths once lived in 128-byte slots; a long one must come back whole.
    std::string longDir(300, 'd');
    std::string longName = std::string(200, 'n') + ".uit";
    std::string path = FindFileInProgramDir(longDir, {longName}, ".uit");
    EXPECT_EQ(path, longDir + kPathSeparator + longName);
}

// Lists a fixed set of names and counts how often the directory was listed.
struct CountingLister {
    std::vector<std::string> names;
    int calls = 0;
    DirectoryLister Lister() {
        return [this](const std::string& dir) {
            EXPECT_EQ(dir, kDir);
            ++calls;
            return names;
        };
    }
};

TEST(FindFirmwareFiles, FindsBothFilesAndSwitchesOnTheOptions) {
    CountingLister lister{{"font.hzk", "player.uit"}};
    JobOptions options;
    FirmwarePaths paths;
    paths.imPmPath = "stale";
    EXPECT_EQ(FindFirmwareFiles(kDir, lister.Lister(), options, paths), std::nullopt);
    EXPECT_EQ(paths.imPmPath, "bin");
    EXPECT_EQ(paths.uitPath, InDir("player.uit"));
    EXPECT_EQ(paths.fontPath, InDir("font.hzk"));
    EXPECT_EQ(options.verify, 1);
    EXPECT_EQ(options.backup, 1);
    EXPECT_EQ(options.format, 1);
    EXPECT_EQ(options.uitOffset, 0);
    EXPECT_EQ(lister.calls, 2);
}

TEST(FindFirmwareFiles, MissingUitStopsBeforeTheFontSearch) {
    CountingLister lister{{"font.hzk"}};
    JobOptions options;
    FirmwarePaths paths{"x", "old.uit", "old.hzk"};
    EXPECT_EQ(FindFirmwareFiles(kDir, lister.Lister(), options, paths),
              std::string("UIT文件已损坏，请修复！"));
    EXPECT_EQ(lister.calls, 1);
    // The options and the IM/PM path are set before the search; the rest keep their values.
    EXPECT_EQ(options.format, 1);
    EXPECT_EQ(paths.imPmPath, "bin");
    EXPECT_EQ(paths.uitPath, "old.uit");
    EXPECT_EQ(paths.fontPath, "old.hzk");
}

TEST(FindFirmwareFiles, MissingFontKeepsTheNewUitAndTheOldFont) {
    CountingLister lister{{"new.uit"}};
    JobOptions options;
    FirmwarePaths paths{"bin", "old.uit", "old.hzk"};
    EXPECT_EQ(FindFirmwareFiles(kDir, lister.Lister(), options, paths),
              std::string("HZK文件已损坏，请修复！"));
    EXPECT_EQ(paths.uitPath, InDir("new.uit"));
    EXPECT_EQ(paths.fontPath, "old.hzk");
}

TEST(FindFirmwareFiles, MoreThanOneCandidateIsRefusedAndNamed) {
    // A stale copy beside the file must never be taken because the listing happens to put it first.
    struct Case {
        std::vector<std::string> names;
        std::string message;  // empty: found
    };
    const Case cases[] = {
        {{"player.uit.bak", "player.uit", "font.hzk"},
         std::string(texts::kUitAmbiguous) + "player.uit.bak、player.uit"},
        {{"player.uit", "font.hzk", "FONT.HZK"},
         std::string(texts::kHzkAmbiguous) + "font.hzk、FONT.HZK"},
        {{"player.uit", ".player.uit.swp", "font.hzk", "Font.Hzk"}, ""},  // neither counts
    };
    for (const Case& c : cases) {
        CountingLister lister{c.names};
        JobOptions options;
        FirmwarePaths paths{"bin", "old.uit", "old.hzk"};
        const std::optional<std::string> refused =
            FindFirmwareFiles(kDir, lister.Lister(), options, paths);
        if (c.message.empty()) {
            EXPECT_EQ(refused, std::nullopt);
            EXPECT_EQ(paths.uitPath, InDir("player.uit"));
            EXPECT_EQ(paths.fontPath, InDir("font.hzk"));
        } else {
            EXPECT_EQ(refused, c.message);
            EXPECT_EQ(paths.fontPath, "old.hzk") << "nothing is taken from a refused search";
        }
    }
}

TEST(ListDirectory, ListsFilesAndDirectoriesAndNothingForAMissingDirectory) {
    namespace fs = std::filesystem;
    fs::path dir =
        fs::temp_directory_path() /
        ("qdx_files_list_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(dir);
    fs::create_directories(dir / "res.uit");
    std::ofstream(dir / "font.hzk") << "x";
    std::vector<std::string> names = ListDirectory(dir.string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"font.hzk", "res.uit"}));
    fs::remove_all(dir);
    EXPECT_TRUE(ListDirectory(dir.string()).empty());
}

TEST(GetProgramDir, IsTheDirectoryHoldingThisTest) {
    namespace fs = std::filesystem;
    std::string dir = GetProgramDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), kPathSeparator);
    bool holdsThisProgram = false;
    for (const std::string& name : ListDirectory(dir)) {
        holdsThisProgram = holdsThisProgram || name.rfind("files_tests", 0) == 0;
    }
    EXPECT_TRUE(holdsThisProgram) << dir;
}

}  // namespace
}  // namespace qdx
