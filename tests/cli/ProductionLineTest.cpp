// Several players at once and a station, through the built qdxflash: one player's fault never
// disturbs the others, and a station takes each player once per plug-in.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/cli/ToolFixture.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using qdx::test::Lines;
using qdx::test::ReadText;

class ProductionLine : public qdx::test::ToolFixture {
protected:
    int Qdxflash(const std::string& args, std::string* out = nullptr) const {
        const qdx::test::ToolRun run = ToolFixture::Qdxflash(args);
        if (out != nullptr) {
            *out = run.out;
        }
        return run.exitCode;
    }

    std::string NewPlayer(const std::string& name) const {
        EXPECT_EQ(Qdxflash("sim create '" + Path(name) + "' --chip 0x73 --force"), 0);
        return Path(name);
    }

    std::string Raw(const std::string& player) const {
        EXPECT_EQ(Qdxflash("sim export '" + player + "' '" + Path("raw.bin") + "'"), 0);
        return ReadText(Path("raw.bin"));
    }

    static std::string Images() {
        return " --uit '" QDX_SAMPLES_DIR "/player.uit' --hzk '" QDX_SAMPLES_DIR "/font.hzk'";
    }
};

TEST_F(ProductionLine, AFaultedPlayerFailsAloneAndTheOthersEqualASingleDownload) {
    const std::string single = NewPlayer("single.sim");
    ASSERT_EQ(Qdxflash("download --sim '" + single + "'" + Images()), 0);
    const std::string reference = Raw(single);

    std::vector<std::string> players;
    for (int i = 0; i < 4; ++i) {
        players.push_back(NewPlayer("p" + std::to_string(i) + ".sim"));
    }
    // The third player leaves the bus in the middle of its IM/PM copy.
    std::string args = "download --events --latency-us 100";
    for (std::size_t i = 0; i < players.size(); ++i) {
        args += " --sim '" + players[i] + (i == 2 ? ":unplug-after=400" : "") + "'";
    }
    std::string out;
    EXPECT_EQ(Qdxflash(args + Images(), &out), 1) << "not every player completed";

    std::map<std::string, std::string> endings;
    for (const std::string& line : Lines(out)) {
        const auto event = nlohmann::json::parse(line);
        ASSERT_TRUE(event.contains("player")) << line;
        if (event.at("event") == "end") {
            endings[event.at("player")] = event.at("ending");
        }
    }
    ASSERT_EQ(endings.size(), 4u) << out;
    for (std::size_t i = 0; i < players.size(); ++i) {
        SCOPED_TRACE(players[i]);
        EXPECT_EQ(endings[players[i]], i == 2 ? "write-failed" : "completed");
        if (i != 2) {
            EXPECT_TRUE(Raw(players[i]) == reference) << "the flash differs from one download's";
        }
    }
}

// A station in the background, stopped by a signal.
class Station {
public:
    Station(const std::string& args, const std::string& out) {
        m_pid = ::fork();
        if (m_pid == 0) {
            const std::string line =
                std::string("exec ") + QDXFLASH_PATH + " station " + args + " >'" + out + "' 2>&1";
            ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    int Stop() const {
        ::kill(m_pid, SIGINT);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
};

TEST_F(ProductionLine, AStationDownloadsEachArrivalOnceAndAgainOnlyAfterItLeft) {
    const fs::path bench = m_dir / "bench";
    fs::create_directories(bench);
    const std::string log = Path("line.jsonl");
    Station station("--sim-dir '" + bench.string() + "' --log '" + log + "'" + Images(),
                    Path("station.txt"));
    auto finished = [&] { return Lines(ReadText(log)).size(); };
    auto waitFor = [&](std::size_t count) {
        for (int i = 0; i < 300 && finished() < count; ++i) {
            std::this_thread::sleep_for(50ms);
        }
        return finished();
    };
    // Two players arrive (made elsewhere and moved in whole, as a plug-in is whole).
    for (const char* name : {"a.sim", "b.sim"}) {
        fs::rename(NewPlayer(name), bench / name);
    }
    ASSERT_EQ(waitFor(2), 2u);
    std::this_thread::sleep_for(600ms);  // they stay: no second download
    EXPECT_EQ(finished(), 2u);
    // a leaves and comes back: a new plug-in, downloaded again.
    fs::rename(bench / "a.sim", m_dir / "a.sim");
    std::this_thread::sleep_for(600ms);
    fs::rename(m_dir / "a.sim", bench / "a.sim");
    ASSERT_EQ(waitFor(3), 3u);
    EXPECT_EQ(station.Stop(), 0);

    std::map<std::string, int> downloads;
    for (const std::string& line : Lines(ReadText(log))) {
        const auto entry = nlohmann::json::parse(line);
        EXPECT_EQ(entry.at("ending"), "completed") << line;
        EXPECT_EQ(entry.at("chip"), "0x73") << line;
        ++downloads[fs::path(entry.at("player").get<std::string>()).filename().string()];
    }
    EXPECT_EQ(downloads, (std::map<std::string, int>{{"a.sim", 2}, {"b.sim", 1}}));
    const std::string said = ReadText(Path("station.txt"));
    EXPECT_NE(said.find("3 completed, 0 failed"), std::string::npos) << said;
}

}  // namespace
