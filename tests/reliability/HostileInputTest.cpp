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
#include "engine/facts/KernelBlock.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"
#include "tests/engine/ImageFixtures.h"
#include "tests/engine/LaunchFixtures.h"
#include "tests/engine/PhaseRecording.h"
#include "tests/engine/RecordingPorts.h"
#include "tests/reliability/RunTool.h"

namespace qdx::test {
namespace {

namespace fs = std::filesystem;
using sim::SimDevice;
using sim::SimPlayer;
using ::testing::HasSubstr;

// After the player's own format, moves the start of its UIT or font area in the kernel block (a
// firmware whose layout the backup plan does not expect). The player has no bad blocks, so its
// kernel block is block 1.
class RelaidKernel : public IDevice {
public:
    RelaidKernel(std::shared_ptr<SimPlayer> player, int uitStart, int fontStart)
        : m_player(player),
          m_device(std::make_shared<SimDevice>(player)),
          m_uitStart(uitStart),
          m_fontStart(fontStart) {}
    bool Send(const CommandDescription& command) override {
        const bool delivered = m_device->Send(command);
        if (delivered && command.Sub() == SubCommand::Format) {
            Relay();
        }
        return delivered;
    }
    TransportStatus LastStatus() const override { return m_device->LastStatus(); }
    void Close() override { m_device->Close(); }

private:
    void Relay() {
        const std::uint32_t first = m_player->SectorsPerBlock();
        std::array<std::array<std::uint8_t, 512>, kKernelSectors> sectors;
        for (std::uint32_t i = 0; i < kKernelSectors; ++i) {
            m_player->ReadData(first + i, sectors[i].data());
        }
        if (m_uitStart >= 0) {
            for (int entry = 0; entry <= kSlotCapacityLast; ++entry) {
                PutBigEndian16(&sectors[kKernelUitTableSector][2 * entry],
                               static_cast<std::uint16_t>(m_uitStart));
            }
        }
        if (m_fontStart >= 0) {
            PutBigEndian16(&sectors[kKernelFontSector][0], static_cast<std::uint16_t>(m_fontStart));
        }
        std::uint32_t sum = 0;
        for (std::uint32_t index : kKernelSummedSectors) {
            sum = AddToKernelSum(sum, sectors[index]);
        }
        PutBigEndian32(&sectors[kKernelChecksumSector][0], sum);
        m_player->EraseBlock(1);
        for (std::uint32_t i = 0; i < kKernelSectors; ++i) {
            m_player->Program(first + i, sectors[i].data());
        }
    }

    std::shared_ptr<SimPlayer> m_player;
    std::shared_ptr<SimDevice> m_device;
    int m_uitStart;
    int m_fontStart;
};

struct Outcome {
    std::optional<std::uint32_t> exitCode;
    std::vector<std::string> statuses;
    std::vector<std::string> messages;
    std::vector<TracedCommand> trace;
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

    Outcome Run(const FirmwarePaths& job, DeviceHandle device = nullptr) {
        if (!device) {
            device = std::make_shared<SimDevice>(player);
        }
        auto outcome = std::make_shared<Outcome>();
        std::packaged_task<void()> task([this, job, outcome, device] {
            PhaseControls controls;
            RecordingMessageBox box;
            CFlashEngine engine(&box);
            engine.SetEndingPause(std::chrono::milliseconds(0));
            CDownloadThread thread;
            auto recorder = std::make_shared<PhaseRecorder>(device, controls);
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

    // No command that changes the flash was sent: no format, erase or write.
    static void ExpectNoFlashChange(const Outcome& outcome) {
        for (const TracedCommand& c : outcome.trace) {
            EXPECT_TRUE(c.sub == SubCommand::ReadId || c.sub == SubCommand::ReadSpare ||
                        c.sub == SubCommand::ReadSector)
                << "sub-command " << static_cast<int>(c.sub) << " sent during \"" << c.stage
                << "\"";
        }
    }

    // Nothing of the refused image's stage reached the flash before the refusal.
    static void ExpectNoWriteIn(const Outcome& outcome, const char* stage) {
        for (const TracedCommand& c : outcome.trace) {
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
    // Every cut of a header: nothing, no whole key, the key alone, a header cut short, a header
    // without its payload, a payload cut short.
    const struct {
        std::size_t cut;
        const char* message;
    } cuts[] = {
        {0, texts::kFileKey},        {1, texts::kFileKey},        {6, texts::kFileKey},
        {7, texts::kFileSize},       {14, texts::kFileSize},      {15, texts::kFileSize},
        {16, texts::kFileSize},      {100, texts::kFileSize},     {511, texts::kFileSize},
        {512, texts::kFileChecksum}, {513, texts::kFileChecksum}, {600, texts::kFileChecksum},
    };
    for (const auto& c : cuts) {
        const std::vector<std::uint8_t> part(good.begin(),
                                             good.begin() + static_cast<std::ptrdiff_t>(c.cut));
        cases.push_back({"the first " + std::to_string(c.cut) + " bytes of an image",
                         dir.Write("cut" + std::to_string(c.cut) + ".bin", part), c.message});
    }
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.what);
        FirmwarePaths job = settings;
        job.imPmPath = c.path;
        const Outcome outcome = Run(job);
        std::string output;
        const int checkStatus = RunQdxflash("check " + Quoted(c.path), &output);
        EXPECT_EQ(outcome.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(outcome.exitCode,
                  std::optional<std::uint32_t>(CWorkerThread::kExitCodeStillActive));
        // Refused before the format: the job shows only its failure.
        EXPECT_EQ(outcome.statuses, std::vector<std::string>{texts::kFailed});
        ExpectNoFlashChange(outcome);
        EXPECT_TRUE(Raw(*player) == factoryRaw) << "the flash must be as it was";
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
    ExpectNoFlashChange(outcome);
    EXPECT_TRUE(Raw(*player) == factoryRaw);
    std::string output;
    EXPECT_EQ(RunQdxflash("check " + Quoted(job.imPmPath), &output), 1) << output;
}

TEST_F(HostileInput, AUitLargerThanItsBackupAreaIsRefusedBeforeTheFlashIsTouched) {
    // The UIT backup area holds 40 blocks of 32 sectors on this chip; this image needs 41.
    FirmwarePaths job = settings;
    job.uitPath = dir.Write("huge.uit", MakeImage(41 * 32 * 512, 5));
    const Outcome outcome = Run(job);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{texts::kBackupArea});
    EXPECT_EQ(outcome.exitCode, std::optional<std::uint32_t>(CWorkerThread::kExitCodeStillActive));
    EXPECT_EQ(outcome.statuses, std::vector<std::string>{texts::kFailed});
    ExpectNoFlashChange(outcome);
    EXPECT_TRUE(Raw(*player) == factoryRaw);
}

TEST_F(HostileInput, BackupCopiesThatWouldReachThePrimaryAreasAreRefusedBeforeTheFormat) {
    // Blocks 227..1023 bad: the backups, counted down from 1023 over them, would land among the
    // primary areas, and a font of 96 blocks, written after the IM/PM backup, would overwrite it.
    std::vector<std::uint32_t> bad;
    for (std::uint32_t block = 227; block <= 1023; ++block) {
        bad.push_back(block);
    }
    std::string error;
    player = SimPlayer::CreateFactory(0x73, false, bad, &error);
    ASSERT_TRUE(player) << error;
    factoryRaw = Raw(*player);
    FirmwarePaths job = settings;
    job.fontPath = dir.Write("large.hzk", MakeImage(96 * 32 * 512, 4));
    const Outcome outcome = Run(job);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{texts::kBackupArea});
    EXPECT_EQ(outcome.statuses, std::vector<std::string>{texts::kFailed});
    ExpectNoFlashChange(outcome);
    EXPECT_TRUE(Raw(*player) == factoryRaw);
}

TEST_F(HostileInput, ALayoutThatPutsCopiesOnEachOtherFailsBeforeTheFirstOneIsOverwritten) {
    // Blocks of this 16 MB player: kernel 1, IM/PM area 2..41 (the IM/PM copy takes 2..11), UIT
    // backup from 1021 down, IM/PM backup from 981, font backup from 925.
    struct Case {
        const char* what;
        int uitStart;
        int fontStart;
        const char* message;
        std::vector<std::string> statuses;
    };
    const Case cases[] = {
        {"the font area among the backups: refused after the format, before any copy",
         -1,
         960,
         texts::kBackupArea,
         {texts::kFormatting, texts::kFailed}},
        {"the UIT area inside the IM/PM copy: refused when the UIT copy reaches it",
         5,
         -1,
         texts::kFlashRange,
         {texts::kFormatting, texts::kSendImPm, texts::kVerifying, texts::kBackupImPm,
          texts::kVerifying, texts::kSendUit, texts::kFailed}},
    };
    const std::vector<std::uint8_t> impm = MakeImage(289 * 512, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        player = SimPlayer::CreateFactory(0x73, false, {}, &error);
        ASSERT_TRUE(player) << error;
        const Outcome outcome =
            Run(settings, std::make_shared<RelaidKernel>(player, c.uitStart, c.fontStart));
        EXPECT_EQ(outcome.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(outcome.statuses, c.statuses);
        ExpectNoWriteIn(outcome, texts::kSendUit);
        ExpectNoWriteIn(outcome, texts::kSendFont);
        // The IM/PM copy, where one was written, is whole: its first sector is the payload's.
        if (c.uitStart >= 0) {
            std::uint8_t data[512];
            player->ReadData(2 * 32, data);
            EXPECT_TRUE(std::equal(data, data + 512, impm.begin() + 512));
        }
    }
}

}  // namespace
}  // namespace qdx::test
