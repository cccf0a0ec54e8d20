// Where the window looks for the UIT and HZK files, and the simulated player's volume with its
// unplugging and plugging in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <vector>

#include "app/FirmwareFolder.h"
#include "app/SimVolumeSource.h"

namespace qdx::app {
namespace {

TEST(UserDataFolder, FollowsTheBaseDirectoryRules) {
    EXPECT_EQ(UserDataFolder("/data", "/home/op"), "/data/qdxclient");
    EXPECT_EQ(UserDataFolder(nullptr, "/home/op"), "/home/op/.local/share/qdxclient");
    EXPECT_EQ(UserDataFolder("", "/home/op"), "/home/op/.local/share/qdxclient");
    // A relative XDG_DATA_HOME is invalid and ignored.
    EXPECT_EQ(UserDataFolder("data", "/home/op"), "/home/op/.local/share/qdxclient");
    EXPECT_EQ(UserDataFolder(nullptr, nullptr), "");
    EXPECT_EQ(UserDataFolder(nullptr, "relative"), "");
}

TEST(ChooseFirmwareFolder, TheProgramsFolderWhenItHoldsACandidate) {
    const std::map<std::string, std::vector<std::string>> listings = {
        {"/usr/bin", {"qdxclient", "qdxflash", "ls"}},
        {"/opt/qdx", {"qdxclient", "FONT.HZK"}},  // only the font: still the program's folder
        {"/portable", {"qdxclient", "player.uit", "font.hzk"}},
    };
    auto list = [&listings](const std::string& dir) {
        const auto found = listings.find(dir);
        return found == listings.end() ? std::vector<std::string>{} : found->second;
    };
    const std::string data = "/home/op/.local/share/qdxclient";
    EXPECT_EQ(ChooseFirmwareFolder({"/usr/bin", data}, list), data);
    EXPECT_EQ(ChooseFirmwareFolder({"/opt/qdx", data}, list), "/opt/qdx");
    EXPECT_EQ(ChooseFirmwareFolder({"/portable", data}, list), "/portable");
    // Without a data folder (Windows) the program's folder is the only one.
    EXPECT_EQ(ChooseFirmwareFolder({"/usr/bin", ""}, list), "/usr/bin");
}

TEST(ChooseFirmwareFolder, TheMissingFileNoteNamesWhereTheFilesGo) {
    const std::string note =
        MissingFileNote({"/usr/bin", "/home/op/.local/share/qdxclient"},
                        "/home/op/.local/share/qdxclient", "UIT文件已损坏，请修复！");
    EXPECT_NE(note.find("missing from /home/op/.local/share/qdxclient"), std::string::npos);
    EXPECT_NE(note.find("UIT文件已损坏"), std::string::npos);
    EXPECT_NE(note.find("into /home/op/.local/share/qdxclient"), std::string::npos);
    EXPECT_NE(note.find("/usr/bin"), std::string::npos);
}

TEST(CreateUserDataFolder, MakesTheFolderWithItsParents) {
    const std::filesystem::path root = std::filesystem::temp_directory_path() /
                                       ("qdx-data-" + std::to_string(std::random_device{}()));
    const std::string folder = (root / "share" / "qdxclient").string();
    EXPECT_TRUE(CreateUserDataFolder(folder));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(CreateUserDataFolder(folder));  // already there
    EXPECT_FALSE(CreateUserDataFolder(""));
    std::ofstream((root / "file").string()) << "x";
    EXPECT_FALSE(CreateUserDataFolder((root / "file" / "qdxclient").string()));
    std::filesystem::remove_all(root);
}

// Deferred calls run when the test says so, as an event loop would run them.
struct Deferred {
    std::vector<std::function<void()>> calls;
    SimVolumeSource::Defer defer() {
        return [this](std::function<void()> call) { calls.push_back(std::move(call)); };
    }
    void run() {
        auto pending = std::move(calls);
        calls.clear();
        for (auto& call : pending) {
            call();
        }
    }
};

TEST(SimVolumeSource, ArrivesAfterTheWindowOpensAndCanBePulledOut) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("qdx-sim-" + std::to_string(std::random_device{}()) + ".sim");
    std::ofstream(file.string()) << "x";
    Deferred loop;
    SimVolumeSource source(file.string(), loop.defer());
    EXPECT_TRUE(source.Scan().empty());
    std::vector<VolumeEvent> events;
    source.Watch([&events](const VolumeEvent& event) { events.push_back(event); });
    EXPECT_TRUE(events.empty());  // nothing before the event loop runs
    loop.run();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, VolumeEvent::Kind::Arrival);
    EXPECT_EQ(events[0].volume, file.string());
    EXPECT_TRUE(events[0].hasMedia);

    source.Unplug();
    source.Unplug();  // out already: nothing more
    source.PlugIn();
    source.PlugIn();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].kind, VolumeEvent::Kind::Removal);
    EXPECT_EQ(events[2].kind, VolumeEvent::Kind::Arrival);

    // A player whose file is gone arrives without media, as an empty card reader does.
    source.Unplug();
    std::filesystem::remove(file);
    source.PlugIn();
    EXPECT_FALSE(events.back().hasMedia);
}

TEST(SimVolumeSource, ADeferredArrivalOutlivingItsSourceDoesNothing) {
    Deferred loop;
    int events = 0;
    {
        SimVolumeSource source("player.sim", loop.defer());
        source.Watch([&events](const VolumeEvent&) { ++events; });
    }
    loop.run();
    EXPECT_EQ(events, 0);
}

}  // namespace
}  // namespace qdx::app
