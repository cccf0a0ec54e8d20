// Hostile image files and paths: odd names, paths past the system's limit, things that are not
// regular files, oversized and truncated images, an image too large for its backup area. Each ends
// with a clear message, and the flash is untouched until the rules allow it.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "engine/CDownloadThread.h"
#include "engine/DownloadLaunch.h"
#include "engine/ImageFile.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"
#include "tests/engine/ImageFixtures.h"
#include "tests/engine/LaunchFixtures.h"
#include "tests/engine/RecordingPorts.h"
#include "tests/reliability/RunTool.h"

namespace qdx::test {
namespace {

namespace fs = std::filesystem;
using sim::SimDevice;
using sim::SimPlayer;
using ::testing::HasSubstr;

struct Traced {
    SubCommand sub;
    std::string stage;
};

// Notes the status in force at every command, to show what was sent before a refusal.
class StageControls : public RecordingControls {
public:
    bool SetText(const std::string& text) override {
        if (text != texts::kVerifying) {
            std::lock_guard lock(m_mutex);
            m_stage = text;
        }
        return RecordingControls::SetText(text);
    }
    std::string Stage() {
        std::lock_guard lock(m_mutex);
        return m_stage;
    }

private:
    std::mutex m_mutex;
    std::string m_stage;
};

class StageRecorder : public IDevice {
public:
    StageRecorder(std::shared_ptr<SimDevice> device, StageControls& controls)
        : m_device(std::move(device)), m_controls(controls) {}
    bool Send(const CommandDescription& command) override {
        trace.push_back({command.Sub(), m_controls.Stage()});
        return m_device->Send(command);
    }
    TransportStatus LastStatus() const override { return m_device->LastStatus(); }
    void Close() override { m_device->Close(); }
    std::vector<Traced> trace;

private:
    std::shared_ptr<SimDevice> m_device;
    StageControls& m_controls;
};

struct Outcome {
    std::optional<std::uint32_t> exitCode;
    std::vector<std::string> statuses;
    std::vector<std::string> messages;
    std::vector<Traced> trace;
};

std::string Raw(const SimPlayer& player) {
    std::ostringstream out;
    player.ExportRaw(out, 0, player.TotalBlocks() - 1);
    return out.str();
}

class HostileInput : public ::testing::Test {
protected:
    void SetUp() override {
        settings.imPmPath = dir.Write("impm.bin", MakeImage(289 * 512, 1));
        settings.uitPath = dir.Write("good.uit", MakeImage(40 * 1024 + 100, 2));
        settings.fontPath = dir.Write("good.hzk", MakeImage(70 * 512, 3));
        std::string error;
        player = SimPlayer::CreateFactory(0x73, false, {}, &error);
        ASSERT_TRUE(player) << error;
        factoryRaw = Raw(*player);
    }

    Outcome Run(const FirmwarePaths& job) {
        auto outcome = std::make_shared<Outcome>();
        std::packaged_task<void()> task([this, job, outcome] {
            StageControls controls;
            RecordingMessageBox box;
            CFlashEngine engine(&box);
            engine.SetEndingPause(std::chrono::milliseconds(0));
            CDownloadThread thread;
            auto recorder =
                std::make_shared<StageRecorder>(std::make_shared<SimDevice>(player), controls);
            if (LaunchDownload(engine, thread, OpenWith(recorder), DownloadOptions(), job,
                               {&controls, &controls, &controls, &box}) == LaunchOutcome::Started) {
                thread.Join();
                outcome->exitCode = thread.ExitCode();
            }
            outcome->statuses = controls.Statuses();
            outcome->messages = box.shown;
            outcome->trace = recorder->trace;
        });
        std::future<void> done = task.get_future();
        std::thread runner(std::move(task));
        if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            std::fprintf(stderr, "download did not end: hang\n");
            std::abort();
        }
        runner.join();
        return *outcome;
    }

    // Nothing of the refused image's stage reached the flash before the refusal.
    static void ExpectNoWriteIn(const Outcome& outcome, const char* stage) {
        for (const Traced& c : outcome.trace) {
            if (c.stage == stage) {
                EXPECT_NE(c.sub, SubCommand::WriteSector) << "written during " << stage;
                EXPECT_NE(c.sub, SubCommand::EraseBlock) << "erased during " << stage;
            }
        }
    }

    TempDir dir;
    FirmwarePaths settings;
    std::shared_ptr<SimPlayer> player;
    std::string factoryRaw;
};

struct Hostile {
    std::string what;
    std::string path;
    const char* message;  // null: the job completes
};

// A path of nested directories longer than the system's limit on a path (4096 bytes), made by
// walking down relative to each directory in turn.
std::string MakeDeepFile(const fs::path& base, std::size_t atLeast,
                         const std::vector<std::uint8_t>& bytes) {
    int parent = ::open(base.c_str(), O_DIRECTORY | O_RDONLY);
    std::string path = base.string();
    const std::string name(200, 'd');
    while (path.size() < atLeast) {
        ::mkdirat(parent, name.c_str(), 0755);
        const int child = ::openat(parent, name.c_str(), O_DIRECTORY | O_RDONLY);
        ::close(parent);
        parent = child;
        path += "/" + name;
    }
    const int file = ::openat(parent, "deep.uit", O_CREAT | O_WRONLY | O_TRUNC, 0644);
    EXPECT_EQ(::write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(file);
    ::close(parent);
    return path + "/deep.uit";
}

TEST_F(HostileInput, OddButValidPathsAreWritten) {
    const std::vector<std::uint8_t> uit = MakeImage(40 * 1024 + 100, 2);
    fs::create_directories(dir.Path() / "目录 with spaces");
    const Hostile cases[] = {
        {"spaces and Unicode", dir.Write("目录 with spaces/播放器 界面 ü.uit", uit), nullptr},
        {"a 255-byte name", dir.Write(std::string(251, 'n') + ".uit", uit), nullptr},
        {"a 3000-byte path", MakeDeepFile(dir.Path() / "", 3000, uit), nullptr},
    };
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.what);
        FirmwarePaths job = settings;
        job.uitPath = c.path;
        const Outcome outcome = Run(job);
        EXPECT_EQ(outcome.exitCode, std::optional<std::uint32_t>(0));
        EXPECT_TRUE(outcome.messages.empty());
        EXPECT_EQ(outcome.statuses.back(), texts::kCompleted);
        std::string output;
        EXPECT_EQ(RunQdxflash("check " + Quoted(c.path), &output), 0) << output;
    }
}

TEST_F(HostileInput, UnusableImagesFailBeforeTheFlashIsTouched) {
    const std::vector<std::uint8_t> good = MakeImage(289 * 512, 1);
    fs::create_directories(dir.Path() / "x.uit");
    const std::string fifo = (dir.Path() / "pipe.uit").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::vector<Hostile> cases = {
        {"a directory named x.uit", (dir.Path() / "x.uit").string(), texts::kFileOpen},
        {"a FIFO, which must not block", fifo, texts::kFileOpen},
        {"a missing file", (dir.Path() / "missing.uit").string(), texts::kFileOpen},
        {"a path longer than the system allows", MakeDeepFile(dir.Path(), 4200, good),
         texts::kFileOpen},
        {"a file over 5 MiB", dir.Write("big.bin", MakeImage(kImageMaxBytes, 4)), texts::kFileSize},
    };
    // Every cut of a header: no key, the key alone, a header without its payload.
    for (std::size_t cut : {0, 1, 6, 7, 14, 15, 16, 100, 511, 512, 513, 600}) {
        const std::vector<std::uint8_t> part(good.begin(),
                                             good.begin() + static_cast<std::ptrdiff_t>(cut));
        const ImageCheck check = CheckImage(part);
        const char* message = check.valid    ? nullptr
                              : !check.keyOk ? texts::kFileKey
                                             : texts::kFileChecksum;
        cases.push_back({"the first " + std::to_string(cut) + " bytes of an image",
                         dir.Write("cut" + std::to_string(cut) + ".bin", part), message});
    }
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.what);
        FirmwarePaths job = settings;
        job.imPmPath = c.path;
        const Outcome outcome = Run(job);
        std::string output;
        const int checkStatus = RunQdxflash("check " + Quoted(c.path), &output);
        if (c.message == nullptr) {
            // Only a key with nothing after it: a valid empty image.
            EXPECT_EQ(outcome.statuses.back(), texts::kCompleted);
            EXPECT_EQ(checkStatus, 0) << output;
            continue;
        }
        EXPECT_EQ(outcome.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(outcome.exitCode,
                  std::optional<std::uint32_t>(CWorkerThread::kExitCodeStillActive));
        EXPECT_EQ(outcome.statuses,
                  (std::vector<std::string>{texts::kFormatting, texts::kSendImPm, texts::kFailed}));
        ExpectNoWriteIn(outcome, texts::kSendImPm);
        EXPECT_TRUE(Raw(*player) == factoryRaw) << "only the format may have changed the flash";
        EXPECT_EQ(checkStatus, 1) << "qdxflash check must refuse it, not hang: " << output;
        EXPECT_THAT(output, HasSubstr("invalid"));
    }
    std::printf("hostile inputs run: %zu\n", cases.size());
}

TEST_F(HostileInput, AFileWithoutReadPermissionFailsLikeAMissingOne) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "running as root, which reads files without read permission";
    }
    FirmwarePaths job = settings;
    job.imPmPath = dir.Write("locked.bin", MakeImage(289 * 512, 1));
    ASSERT_EQ(::chmod(job.imPmPath.c_str(), 0), 0);
    const Outcome outcome = Run(job);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{texts::kFileOpen});
    ExpectNoWriteIn(outcome, texts::kSendImPm);
    EXPECT_TRUE(Raw(*player) == factoryRaw);
    std::string output;
    EXPECT_EQ(RunQdxflash("check " + Quoted(job.imPmPath), &output), 1) << output;
}

TEST_F(HostileInput, AUitLargerThanItsBackupAreaIsRefusedBeforeTheBackupIsWritten) {
    // The UIT backup area holds 40 blocks of 32 sectors on this chip; this image needs 41.
    FirmwarePaths job = settings;
    job.uitPath = dir.Write("huge.uit", MakeImage(41 * 32 * 512, 5));
    const Outcome outcome = Run(job);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{texts::kBackupArea});
    EXPECT_EQ(outcome.exitCode, std::optional<std::uint32_t>(CWorkerThread::kExitCodeStillActive));
    ASSERT_GE(outcome.statuses.size(), 2u);
    EXPECT_EQ(outcome.statuses[outcome.statuses.size() - 2], texts::kBackupUit);
    EXPECT_EQ(outcome.statuses.back(), texts::kFailed);
    ExpectNoWriteIn(outcome, texts::kBackupUit);
}

}  // namespace
}  // namespace qdx::test
