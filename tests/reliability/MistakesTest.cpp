// The mistakes people make, run through qdxflash as they make them: a wrong or damaged image, two
// programs on one player, Ctrl-C, a closed pipe, an output over an input, a device where a file
// belongs. Each must end with the player as it was (or saved as its flash stands), a clear
// message and the right exit status.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/ImageFixtures.h"

namespace qdx::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct ToolRun {
    int status = -1;  // exit status; -1 for a hang stopped after 60 s or a death by signal
    std::string out;
    std::string err;
    std::string LastLine() const {
        std::istringstream in(out);
        std::string line, last;
        while (std::getline(in, line)) {
            last = line;
        }
        return last;
    }
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

class Mistakes : public ::testing::Test {
protected:
    void SetUp() override {
        player = (dir.Path() / "P.sim").string();
        ASSERT_EQ(Qdxflash("sim create " + Quoted(player) + " --chip 0x73").status, 0);
        // P holds a good download, as a working player does.
        ASSERT_EQ(Qdxflash(Download(player, Uit(), Hzk())).status, 0);
        before = ReadAll(player);
    }

    // Runs qdxflash with a bound; stdout and stderr apart.
    ToolRun Qdxflash(const std::string& args) const {
        const fs::path out = dir.Path() / "stdout.txt";
        const fs::path err = dir.Path() / "stderr.txt";
        const std::string line = std::string("timeout 60 ") + QDXFLASH_PATH + " " + args + " >" +
                                 Quoted(out.string()) + " 2>" + Quoted(err.string());
        const int status = std::system(line.c_str());
        ToolRun run;
        run.status = WIFEXITED(status) && WEXITSTATUS(status) != 124 ? WEXITSTATUS(status) : -1;
        run.out = ReadAll(out);
        run.err = ReadAll(err);
        return run;
    }

    static std::string Uit() { return QDX_SAMPLES_DIR "/player.uit"; }
    static std::string Hzk() { return QDX_SAMPLES_DIR "/font.hzk"; }
    static std::string Download(const std::string& sim, const std::string& uit,
                                const std::string& hzk) {
        return "download --sim " + Quoted(sim) + " --uit " + Quoted(uit) + " --hzk " + Quoted(hzk);
    }

    void ExpectPlayerAsBefore() const {
        EXPECT_TRUE(ReadAll(player) == before) << "the player file changed";
    }

    TempDir dir;
    std::string player;
    std::string before;
};

TEST_F(Mistakes, ABadImageIsRefusedBeforeTheFlashIsTouched) {
    const std::string good = ReadAll(Uit());
    const std::string fifo = (dir.Path() / "pipe.img").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    fs::create_directory(dir.Path() / "folder.img");
    std::string wrongKey = good;
    wrongKey[0] = 'V';
    std::string wrongSum = good;
    wrongSum[600] = static_cast<char>(wrongSum[600] ^ 1);
    struct Bad {
        std::string path;
        const char* message;
        const char* reason;
    };
    const std::vector<Bad> bad = {
        {(dir.Path() / "absent.img").string(), "File open error", "no such file"},
        {dir.Write("key.img", {wrongKey.begin(), wrongKey.end()}), "File Key error", "key"},
        {dir.Write("sum.img", {wrongSum.begin(), wrongSum.end()}), "File CheckSum error",
         "checksum"},
        {(dir.Path() / "folder.img").string(), "File open error", "directory"},
        {fifo, "File open error", "not a regular file"},
        {"/dev/zero", "File open error", "not a regular file"},
        {dir.Write("empty.img", {}), "File Key error", "empty"},
        {dir.Write("short.img", {good.begin(), good.begin() + 100}), "File Size error",
         "shorter than its 512-byte header"},
    };
    for (const Bad& image : bad) {
        for (const char* option : {"--uit", "--hzk", "--impm"}) {
            SCOPED_TRACE(image.path + " as " + option);
            std::string args = Download(player, Uit(), Hzk());
            if (std::string(option) == "--impm") {
                args += " --impm " + Quoted(image.path);
            } else if (std::string(option) == "--uit") {
                args = Download(player, image.path, Hzk());
            } else {
                args = Download(player, Uit(), image.path);
            }
            const ToolRun run = Qdxflash(args + " --events");
            EXPECT_EQ(run.status, 1);
            EXPECT_THAT(run.out, HasSubstr(std::string("{\"event\":\"message\",\"text\":\"") +
                                           image.message + "\",\"file\":\"" + image.path + "\"}"));
            EXPECT_EQ(run.LastLine(),
                      "{\"event\":\"end\",\"ending\":\"write-failed\",\"exitCode\":259}");
            EXPECT_THAT(run.out, ::testing::Not(HasSubstr("正在格式化"))) << "no format";
            EXPECT_THAT(run.err, HasSubstr(image.reason));
            ExpectPlayerAsBefore();
        }
    }
}

TEST_F(Mistakes, BackupsThatWouldLandOnThePrimaryAreasAreRefused) {
    std::string bad;
    for (int block = 227; block <= 1023; ++block) {
        bad += (bad.empty() ? "" : ",") + std::to_string(block);
    }
    const std::string worn = (dir.Path() / "worn.sim").string();
    ASSERT_EQ(Qdxflash("sim create " + Quoted(worn) + " --chip 0x73 --bad " + bad).status, 0);
    const std::string factory = ReadAll(worn);
    const std::string font = dir.Write("big.hzk", MakeImage(96 * 32 * 512, 3));
    const ToolRun run = Qdxflash(Download(worn, Uit(), font) + " --events");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("\"text\":\"Backup Area error\""));
    EXPECT_THAT(run.err, HasSubstr("bad blocks"));
    EXPECT_TRUE(ReadAll(worn) == factory);
}

TEST_F(Mistakes, OutputsNeverOverwriteInputsOrDevices) {
    const std::string uitCopy = dir.Write("mine.uit", MakeImage(4096, 2));
    const std::string uitBefore = ReadAll(uitCopy);
    struct Case {
        std::string args;
        int status;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"sim export " + Quoted(player) + " " + Quoted(player), 2, "player file itself"},
        {Download(player, uitCopy, Hzk()) + " --trace " + Quoted(uitCopy), 2, "same file"},
        {"pack " + Quoted(uitCopy) + " -o " + Quoted(uitCopy), 2, "payload itself"},
        {"sim create /dev/null --chip 0x73", 2, "not a regular file"},
        {"sim create " + Quoted(player) + " --chip 0x73", 2, "give --force"},
        {"info --sim " + Quoted(uitCopy + ".absent"), 2, "no such file"},
        {"download --device /nonexistent/vda --uit a.uit --hzk b.hzk --impm " + Quoted(Uit()), 1,
         "/nonexistent/vda: no such device"},
        {Download(player, Uit(), Hzk()) + " --trace /dev/full", 1, "No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const ToolRun run = Qdxflash(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.says));
    }
    EXPECT_TRUE(ReadAll(uitCopy) == uitBefore);
    struct stat info {};
    ASSERT_EQ(::stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    // The download with the unwritable trace still saved the player, completed.
    EXPECT_EQ(Qdxflash("info --sim " + Quoted(player)).status, 0);
}

TEST_F(Mistakes, ImagesGivenToTheWrongOptionDrawAWarning) {
    const ToolRun run = Qdxflash(Download(player, Hzk(), Uit()));
    EXPECT_THAT(run.err, HasSubstr("--uit " + Hzk() + " does not end in .uit"));
    EXPECT_THAT(run.err, HasSubstr("--hzk " + Uit() + " does not end in .hzk"));
}

TEST_F(Mistakes, CheckTellsTheRealSizeAndNamesEmptyAndShortFiles) {
    const std::string big = dir.Write("big.img", std::vector<std::uint8_t>(20 * 1024 * 1024, 0));
    const std::string empty = dir.Write("empty.img", {});
    const ToolRun run = Qdxflash("check " + Quoted(big) + " " + Quoted(empty));
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("20971520 bytes, more than the 5242880 bytes allowed"));
    EXPECT_THAT(run.out, HasSubstr("invalid: empty (0 bytes)"));
}

// A download kept slow enough (0.2 ms per command, about a second) to be interrupted or raced.
class SlowDownload {
public:
    SlowDownload(const std::string& args, const fs::path& out) : m_out(out) {
        m_pid = ::fork();
        if (m_pid == 0) {
            const std::string line = std::string("exec ") + QDXFLASH_PATH + " " + args +
                                     " --latency-us 200 >" + Quoted(out.string()) + " 2>" +
                                     Quoted(out.string() + ".err");
            ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    // Waits until the job has begun (its format is under way), however slowly the program
    // started.
    void WaitUntilWriting() const {
        for (int i = 0; i < 600 && ReadAll(m_out).find("格式化") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    void Signal(int number) const { ::kill(m_pid, number); }
    int Wait() const {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    fs::path m_out;
    pid_t m_pid = -1;
};

TEST_F(Mistakes, ASecondProgramOnThePlayerIsToldItIsInUse) {
    SlowDownload first(Download(player, Uit(), Hzk()), dir.Path() / "first.txt");
    first.WaitUntilWriting();
    const ToolRun second = Qdxflash(Download(player, Uit(), Hzk()));
    EXPECT_EQ(second.status, 2);
    EXPECT_THAT(second.err, HasSubstr("in use by another program"));
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(Qdxflash("info --sim " + Quoted(player)).status, 0);
}

TEST_F(Mistakes, OneSignalIsHeldTwoStopTheDownloadAndThePlayerIsSavedAsItStands) {
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(number);
        const fs::path once = dir.Path() / ("once" + std::to_string(number) + ".txt");
        SlowDownload held(Download(player, Uit(), Hzk()) + " --events", once);
        held.WaitUntilWriting();
        held.Signal(number);
        EXPECT_EQ(held.Wait(), 0) << "one signal lets the download finish";
        EXPECT_THAT(ReadAll(once), HasSubstr("{\"event\":\"end\",\"ending\":\"completed\""));
        EXPECT_THAT(ReadAll(once.string() + ".err"), HasSubstr("goes on until it ends"));

        const fs::path twice = dir.Path() / ("twice" + std::to_string(number) + ".txt");
        SlowDownload stopped(Download(player, Uit(), Hzk()) + " --events", twice);
        stopped.WaitUntilWriting();
        stopped.Signal(number);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stopped.Signal(number);
        EXPECT_EQ(stopped.Wait(), 1);
        const std::string events = ReadAll(twice);
        EXPECT_THAT(events,
                    HasSubstr("{\"event\":\"end\",\"ending\":\"interrupted\",\"exitCode\":259}"));
        EXPECT_THAT(ReadAll(twice.string() + ".err"), HasSubstr("must be downloaded again"));
        // Saved as the flash stands: formatted and part-written, no longer the good download.
        EXPECT_FALSE(ReadAll(player) == before);
        ASSERT_EQ(Qdxflash(Download(player, Uit(), Hzk())).status, 0);
        EXPECT_TRUE(ReadAll(player) == before) << "a new download restores the player";
    }
}

TEST_F(Mistakes, AClosedOutputNeverEndsADownload) {
    const fs::path fresh = dir.Path() / "fresh.sim";
    ASSERT_EQ(Qdxflash("sim create " + Quoted(fresh.string()) + " --chip 0x73").status, 0);
    const std::string line = std::string("set -o pipefail; ") + QDXFLASH_PATH + " " +
                             Download(fresh.string(), Uit(), Hzk()) + " | head -2 >/dev/null";
    const int status = std::system(("bash -c " + Quoted(line)).c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(ReadAll(fresh) == before) << "the download completed and was saved";
}

}  // namespace
}  // namespace qdx::test
