// The download job on a worker thread against the simulated player, and its launch.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>

#include "engine/CDownloadThread.h"
#include "engine/DownloadLaunch.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"
#include "tests/engine/FakeFlash.h"
#include "tests/engine/ImageFixtures.h"
#include "tests/engine/LaunchFixtures.h"
#include "tests/engine/RecordingPorts.h"

namespace qdx::test {
namespace {

using sim::FaultPlan;
using sim::SimDevice;
using sim::SimPlayer;

constexpr std::size_t kImPmPayload = 289 * 512;
constexpr std::size_t kUitPayload = 40 * 1024 + 100;
constexpr std::size_t kFontPayload = 261696;

class Job : public ::testing::Test {
protected:
    void SetUp() override {
        impm = MakeImage(kImPmPayload, 1);
        uit = MakeImage(kUitPayload, 2);
        font = MakeImage(kFontPayload, 3);
        settings.imPmPath = dir.Write("impm.bin", impm);
        settings.uitPath = dir.Write("player.uit", uit);
        settings.fontPath = dir.Write("font.hzk", font);
        engine.SetEndingPause(std::chrono::milliseconds(0));
    }

    void MakePlayer(std::uint8_t code, bool twoChips, std::vector<std::uint32_t> bad) {
        std::string error;
        player = SimPlayer::CreateFactory(code, twoChips, bad, &error);
        ASSERT_TRUE(player) << error;
    }

    LaunchOutcome Launch(FaultPlan faults = {}) {
        device = std::make_shared<SimDevice>(player, faults);
        const LaunchOutcome outcome =
            LaunchDownload(engine, thread, OpenWith(device), DownloadOptions(), settings,
                           {&controls, &controls, &controls, &box});
        thread.Join();
        return outcome;
    }

    // Reads the payload of an image back from the simulated flash, block after block over good
    // blocks, up or down from a start block, and compares it.
    void ExpectCopy(const std::vector<std::uint8_t>& image, std::int32_t startBlock,
                    bool backward) {
        const std::uint32_t spb = player->SectorsPerBlock();
        const std::size_t sectors = (image.size() - 512 + 511) / 512;
        std::int64_t block = startBlock;
        std::uint8_t data[512];
        for (std::size_t k = 0; k < sectors; ++k) {
            if (k > 0 && k % spb == 0) {
                do {
                    block += backward ? -1 : 1;
                } while (IsBad(static_cast<std::uint32_t>(block)));
            }
            player->ReadData(static_cast<std::uint32_t>(block) * spb + k % spb, data);
            for (std::size_t b = 0; b < 512; ++b) {
                const std::size_t at = 512 + k * 512 + b;
                ASSERT_EQ(data[b], at < image.size() ? image[at] : 0)
                    << "block " << block << " sector " << k % spb << " byte " << b;
            }
        }
    }
    bool IsBad(std::uint32_t block) const {
        const auto& bad = player->FactoryBadBlocks();
        return std::find(bad.begin(), bad.end(), block) != bad.end();
    }

    TempDir dir;
    std::vector<std::uint8_t> impm, uit, font;
    FirmwarePaths settings;
    std::shared_ptr<SimPlayer> player;
    std::shared_ptr<SimDevice> device;
    RecordingMessageBox box;
    RecordingControls controls;
    CFlashEngine engine{&box};
    CDownloadThread thread;
};

const std::vector<std::string> kCompletedStatuses = {
    texts::kFormatting, texts::kSendImPm, texts::kVerifying, texts::kBackupImPm,
    texts::kVerifying,  texts::kSendUit,  texts::kVerifying, texts::kBackupUit,
    texts::kVerifying,  texts::kSendFont, texts::kVerifying, texts::kBackupFont,
    texts::kVerifying,  texts::kCompleted};

struct PlayerCase {
    std::uint8_t code;
    bool twoChips;
    std::vector<std::uint32_t> bad;
};

TEST_F(Job, CompletesOnEveryChipAndPlacesEveryCopy) {
    const PlayerCase cases[] = {
        {0x73, false, {}},       {0x73, false, {0, 1, 1023, 990, 1022}},
        {0x75, true, {}},        {0x76, false, {5, 1000}},
        {0x79, false, {}},       {0xF1, false, {0, 1, 1023}},
        {0xDA, false, {3}},      {0xDC, false, {}},
        {0xD3, true, {2, 1020}},
    };
    for (const PlayerCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "chip " << int{c.code} << " two " << c.twoChips << " bad " << c.bad.size());
        MakePlayer(c.code, c.twoChips, c.bad);
        controls.Clear();
        ASSERT_EQ(Launch(), LaunchOutcome::Started);
        EXPECT_EQ(thread.ExitCode(), 0u);
        EXPECT_EQ(thread.Ending(), JobEnding::Completed);
        EXPECT_EQ(controls.Statuses(), kCompletedStatuses);
        const auto events = controls.Events();
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events.back(), "enable:1");
        EXPECT_EQ(events[events.size() - 2], "progress:0");
        EXPECT_TRUE(box.shown.empty());
        EXPECT_TRUE(device->Closed()) << "the player is closed at the end of the job";
        // The bar shows the job's share: full exactly when the last copy is verified, never
        // before, then the ending's 100 and 0.
        const std::vector<int> percents = controls.Percents();
        ASSERT_GE(percents.size(), 4u);
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end() - 1));
        EXPECT_LT(percents[percents.size() - 4], 100);
        EXPECT_EQ(percents[percents.size() - 3], 100);
        EXPECT_EQ(percents.back(), 0);

        ExpectCopy(impm, engine.m_layout[kSlotImPm], false);
        ExpectCopy(impm, engine.m_layout[kSlotImPmBackup], true);
        ExpectCopy(uit, engine.m_layout[engine.m_blocksK], false);
        ExpectCopy(uit, engine.m_layout[kSlotUitBackup], true);
        ExpectCopy(font, engine.m_layout[kSlotFont], false);
        ExpectCopy(font, engine.m_layout[kSlotFontBackup], true);
    }
}

TEST_F(Job, TheLaunchCopiesOptionsAndPathsWithFlagsNormalised) {
    MakePlayer(0x73, false, {});
    device = std::make_shared<SimDevice>(player);
    const JobOptions options{.uitOffset = 0, .verify = 7, .backup = 0, .format = 0x80};
    ASSERT_EQ(LaunchDownload(engine, thread, OpenWith(device), options, settings,
                             {&controls, &controls, &controls, &box}),
              LaunchOutcome::Started);
    thread.Join();
    EXPECT_EQ(engine.m_verify, 1);
    EXPECT_EQ(engine.m_backup, 0);
    EXPECT_EQ(engine.m_contentMask, kContentImPm | kContentUit | kContentFont);
    EXPECT_EQ(engine.m_paths[1], settings.imPmPath);
    EXPECT_EQ(engine.m_paths[2], settings.uitPath);
    EXPECT_EQ(engine.m_paths[3], settings.fontPath);
    // Formatted first, verified, and no backup copy.
    EXPECT_EQ(controls.Statuses(),
              (std::vector<std::string>{texts::kFormatting, texts::kSendImPm, texts::kVerifying,
                                        texts::kSendUit, texts::kVerifying, texts::kSendFont,
                                        texts::kVerifying, texts::kCompleted}));
    EXPECT_EQ(thread.Ending(), JobEnding::Completed);
}

TEST_F(Job, SharedImagesAreWrittenAsTheyWereReadWithoutTheFilesAgain) {
    // Several players of one run write the bytes read once, even when the file has gone since.
    MakePlayer(0x73, false, {});
    const std::string gone = (dir.Path() / "gone.uit").string();
    engine.ShareImages({{gone, std::make_shared<const ImageData>(ImageFromBytes(uit))}});
    settings.uitPath = gone;
    ASSERT_EQ(Launch(), LaunchOutcome::Started);
    EXPECT_EQ(thread.Ending(), JobEnding::Completed);
    ExpectCopy(uit, engine.m_layout[engine.m_blocksK], false);
    ExpectCopy(uit, engine.m_layout[kSlotUitBackup], true);
}

TEST_F(Job, FormatFailureEndsTheWorkerAndKeepsStartDisabled) {
    MakePlayer(0x73, false, {});
    FaultPlan faults;
    faults.formatFails = true;
    ASSERT_EQ(Launch(faults), LaunchOutcome::Started);
    EXPECT_EQ(thread.ExitCode(), CWorkerThread::kExitCodeStillActive);
    EXPECT_EQ(thread.Ending(), JobEnding::FormatFailed);
    EXPECT_EQ(controls.Events(),
              (std::vector<std::string>{std::string("status:") + texts::kFormatting, "progress:1",
                                        "progress:100", std::string("status:") + texts::kFailed,
                                        "progress:0"}));
    EXPECT_TRUE(device->Closed());
}

TEST_F(Job, KernelChecksumFailureAfterFormatEnablesStartAgain) {
    MakePlayer(0x73, false, {});
    FaultPlan faults;
    faults.corruptRead.push_back(32 + 3);  // kernel block is block 1 on a flash without bad blocks
    ASSERT_EQ(Launch(faults), LaunchOutcome::Started);
    EXPECT_EQ(thread.ExitCode(), 0u);
    EXPECT_EQ(thread.Ending(), JobEnding::InitFailed);
    EXPECT_EQ(box.shown, (std::vector<std::string>{texts::kKernelChecksum, texts::kInitFailed}));
    EXPECT_EQ(controls.Statuses(), (std::vector<std::string>{texts::kFormatting, texts::kFailed}));
    EXPECT_EQ(controls.Events().back(), "enable:1");
    EXPECT_TRUE(device->Closed());
}

TEST_F(Job, WriteFailureStopsTheJobBeforeLaterImages) {
    MakePlayer(0x73, false, {});
    // Let a first job place the areas, then make one IM/PM sector unprogrammable.
    ASSERT_EQ(Launch(), LaunchOutcome::Started);
    const std::uint32_t weak = static_cast<std::uint32_t>(engine.m_layout[kSlotImPm]) * 32 + 17;
    const std::uint32_t uitSector = static_cast<std::uint32_t>(engine.m_layout[1]) * 32;
    FaultPlan faults;
    faults.weakSector.push_back(weak);
    controls.Clear();
    ASSERT_EQ(Launch(faults), LaunchOutcome::Started);
    EXPECT_EQ(thread.ExitCode(), CWorkerThread::kExitCodeStillActive);
    EXPECT_EQ(thread.Ending(), JobEnding::WriteFailed);
    EXPECT_EQ(box.shown, std::vector<std::string>{texts::kReadBack});
    EXPECT_EQ(controls.Statuses(), (std::vector<std::string>{texts::kFormatting, texts::kSendImPm,
                                                             texts::kVerifying, texts::kFailed}));
    EXPECT_NE(controls.Events().back(), "enable:1") << "Start stays disabled";
    std::uint8_t data[512];
    player->ReadData(uitSector, data);
    EXPECT_EQ(data[0], 0xFF) << "the UIT image was not written after the failure";
    EXPECT_TRUE(device->Closed());
}

TEST_F(Job, ImageWithoutTheKeyFailsTheJob) {
    MakePlayer(0xF1, false, {});
    uit[0] = 'V';
    settings.uitPath = dir.Write("bad.uit", uit);
    ASSERT_EQ(Launch(), LaunchOutcome::Started);
    EXPECT_EQ(thread.ExitCode(), CWorkerThread::kExitCodeStillActive);
    EXPECT_EQ(thread.Ending(), JobEnding::WriteFailed);
    EXPECT_EQ(box.shown, std::vector<std::string>{texts::kFileKey});
    EXPECT_EQ(controls.Statuses().back(), texts::kFailed);
}

TEST_F(Job, UnknownChipFailsTheLaunchAndClosesThePlayer) {
    auto fake = std::make_shared<FakeFlash>(0xEC, 32);
    EXPECT_EQ(LaunchDownload(engine, thread, OpenWith(fake), DownloadOptions(), settings,
                             {&controls, &controls, &controls, &box}),
              LaunchOutcome::InitFailed);
    EXPECT_EQ(box.shown, std::vector<std::string>{texts::kUnknownChip});
    EXPECT_EQ(controls.Statuses(), std::vector<std::string>{texts::kFailed});
    EXPECT_TRUE(fake->closed);
    EXPECT_FALSE(thread.HasThread());
}

TEST_F(Job, OpenFailureShowsItsMessage) {
    EXPECT_EQ(LaunchDownload(engine, thread, OpenWith(nullptr), DownloadOptions(), settings,
                             {&controls, &controls, &controls, &box}),
              LaunchOutcome::OpenFailed);
    EXPECT_EQ(box.shown, std::vector<std::string>{texts::kOpenFailed});
    EXPECT_TRUE(controls.Events().empty());
}

// A device that holds the format command until the test lets it go, to keep a worker alive.
class HeldFormat : public IDevice {
public:
    explicit HeldFormat(DeviceHandle inner) : m_inner(std::move(inner)) {}
    bool Send(const CommandDescription& command) override {
        if (command.Sub() == SubCommand::Format) {
            m_release.get_future().wait();
        }
        return m_inner->Send(command);
    }
    TransportStatus LastStatus() const override { return m_inner->LastStatus(); }
    void Close() override { m_inner->Close(); }
    void Release() { m_release.set_value(); }

private:
    DeviceHandle m_inner;
    std::promise<void> m_release;
};

TEST_F(Job, ALaunchWhileTheWorkerRunsTouchesNothing) {
    MakePlayer(0x73, false, {});
    auto held = std::make_shared<HeldFormat>(std::make_shared<SimDevice>(player));
    const LaunchPorts ports{&controls, &controls, &controls, &box};
    ASSERT_EQ(LaunchDownload(engine, thread, OpenWith(held), DownloadOptions(), settings, ports),
              LaunchOutcome::Started);
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_TRUE(thread.Start()) << "a second start reports the running worker";

    auto other = std::make_shared<FakeFlash>(0xD3, 256);
    FirmwarePaths changed = settings;
    changed.uitPath = "elsewhere.uit";
    EXPECT_EQ(LaunchDownload(engine, thread, OpenWith(other), DownloadOptions(), changed, ports),
              LaunchOutcome::WorkerBusy);
    EXPECT_TRUE(other->log.empty());
    EXPECT_EQ(engine.m_paths[2], settings.uitPath);

    held->Release();
    thread.Join();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.ExitCode(), 0u);
    EXPECT_EQ(controls.Statuses().back(), texts::kCompleted);
}

TEST_F(Job, NothingToWriteStillCompletes) {
    MakePlayer(0x73, false, {});
    device = std::make_shared<SimDevice>(player);
    engine.m_format = 1;
    ASSERT_EQ(engine.InitFlash(device), 1);
    engine.PlanBackupAreas();
    engine.m_format = 1;
    thread.SetControls(&controls, &controls, &controls);
    thread.BindEngine(&engine);
    ASSERT_TRUE(thread.Start());
    thread.Join();
    EXPECT_EQ(controls.Statuses(),
              (std::vector<std::string>{texts::kFormatting, texts::kCompleted}));
    EXPECT_EQ(controls.Events().back(), "enable:1");
    EXPECT_EQ(device->CountOf(static_cast<std::uint8_t>(SubCommand::WriteSector)), 0u);
}

TEST(DownloadThread, BindingMovesTheSinkAndNoEngineEndsAtOnce) {
    CFlashEngine first, second;
    CDownloadThread thread;
    thread.BindEngine(&first);
    EXPECT_EQ(first.m_pSink, &thread);
    thread.BindEngine(&second);
    EXPECT_EQ(first.m_pSink, nullptr);
    EXPECT_EQ(second.m_pSink, &thread);
    thread.BindEngine(nullptr);
    EXPECT_EQ(second.m_pSink, nullptr);
    ASSERT_TRUE(thread.Start());
    thread.Join();
    EXPECT_EQ(thread.ExitCode(), 0u);
    EXPECT_EQ(first.RunJob(), 0) << "no sink bound";
}

}  // namespace
}  // namespace qdx::test
