// Every fault the simulated player can inject, at every phase of a download: each ends as its row
// says, within a bound, and a clean download afterwards leaves the flash exactly as a clean
// download on an untouched player does.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/CDownloadThread.h"
#include "engine/DownloadLaunch.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"
#include "tests/engine/ImageFixtures.h"
#include "tests/engine/LaunchFixtures.h"
#include "tests/engine/PhaseRecording.h"
#include "tests/engine/RecordingPorts.h"
#include "tests/reliability/RunTool.h"

namespace qdx::test {
namespace {

using sim::FaultPlan;
using sim::SimDevice;
using sim::SimPlayer;

constexpr auto kHangBound = std::chrono::seconds(120);

struct RunResult {
    LaunchOutcome launch = LaunchOutcome::OpenFailed;
    std::optional<std::uint32_t> exitCode;
    std::vector<std::string> statuses;
    std::vector<std::string> messages;
    std::vector<TracedCommand> trace;
    JobEnding ending = JobEnding::LaunchFailed;
    bool closed = false;
};

constexpr std::uint32_t kBadBlock = 1020;        // in the UIT backup area: backward walks skip it
constexpr std::size_t kImPmPayload = 289 * 512;  // ten blocks, the last one in part
constexpr std::size_t kUitPayload = 40 * 1024 + 100;  // three blocks, padded
constexpr std::size_t kFontPayload = 96 * 512 + 7;

class FaultMatrix : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir;
        s_settings.imPmPath = s_dir->Write("impm image.bin", MakeImage(kImPmPayload, 1));
        s_settings.uitPath = s_dir->Write("player.uit", MakeImage(kUitPayload, 2));
        s_settings.fontPath = s_dir->Write("font.hzk", MakeImage(kFontPayload, 3));
        s_reference = NewPlayer();
        s_clean = Run(s_reference, {});
        s_referenceRaw = Raw(*s_reference);
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
        s_reference.reset();
    }

    static std::shared_ptr<SimPlayer> NewPlayer() {
        std::string error;
        std::shared_ptr<SimPlayer> player =
            SimPlayer::CreateFactory(0x73, false, {kBadBlock}, &error);
        if (!player) {
            ADD_FAILURE() << error;
        }
        return player;
    }

    static std::string Raw(const SimPlayer& player) {
        std::ostringstream out;
        player.ExportRaw(out, 0, player.TotalBlocks() - 1);
        return out.str();
    }

    // One launch and job, the way the desktop program runs it. A job that does not end within the
    // bound is a hang: it fails the test and stops the program, since its worker cannot be reaped.
    static RunResult Run(std::shared_ptr<SimPlayer> player, FaultPlan faults) {
        auto result = std::make_shared<RunResult>();
        std::packaged_task<void()> task([player, faults, result] {
            PhaseControls controls;
            RecordingMessageBox box;
            CFlashEngine engine(&box);
            engine.SetEndingPause(std::chrono::milliseconds(0));
            CDownloadThread thread;
            auto sim = std::make_shared<SimDevice>(player, faults);
            auto recorder = std::make_shared<PhaseRecorder>(sim, controls);
            result->launch = LaunchDownload(engine, thread, OpenWith(recorder), DownloadOptions(),
                                            s_settings, {&controls, &controls, &controls, &box});
            result->ending = EndingOfLaunch(result->launch);
            if (result->launch == LaunchOutcome::Started) {
                thread.Join();
                result->exitCode = thread.ExitCode();
                result->ending = thread.Ending().value_or(JobEnding::LaunchFailed);
            }
            result->statuses = controls.Statuses();
            result->messages = box.shown;
            result->trace = recorder->trace;
            result->closed = sim->Closed();
        });
        std::future<void> done = task.get_future();
        std::thread runner(std::move(task));
        if (done.wait_for(kHangBound) != std::future_status::ready) {
            std::fprintf(stderr, "download did not end within %lld s: hang\n",
                         static_cast<long long>(kHangBound.count()));
            std::abort();
        }
        runner.join();

        return *result;
    }

    static TempDir* s_dir;
    static FirmwarePaths s_settings;
    static std::shared_ptr<SimPlayer> s_reference;
    static RunResult s_clean;
    static std::string s_referenceRaw;
};

TempDir* FaultMatrix::s_dir = nullptr;
FirmwarePaths FaultMatrix::s_settings;
std::shared_ptr<SimPlayer> FaultMatrix::s_reference;
RunResult FaultMatrix::s_clean;
std::string FaultMatrix::s_referenceRaw;

// A command of the clean run, by its number counted from 1.
struct Located {
    std::uint64_t number = 0;
    TracedCommand command{};
};

using Locator = std::function<bool(const std::vector<TracedCommand>&, std::size_t)>;

Located FindFirst(const std::vector<TracedCommand>& trace, const Locator& matches) {
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (matches(trace, i)) {
            return {i + 1, trace[i]};
        }
    }
    return {};
}

Locator Is(SubCommand sub, std::string stage, int verifying = -1) {
    return [sub, stage, verifying](const std::vector<TracedCommand>& trace, std::size_t i) {
        const TracedCommand& c = trace[i];
        return c.sub == sub && c.stage == stage &&
               (verifying < 0 || c.verifying == (verifying == 1));
    };
}

// The first write-back of a partly covered block: the first write after the erase that follows
// the first read of the writing pass.
bool IsFirstWriteBack(const std::vector<TracedCommand>& trace, std::size_t i) {
    auto keptRead = Is(SubCommand::ReadSector, texts::kSendImPm, 0);
    std::size_t k = 0;
    while (k < i && !keptRead(trace, k)) {
        ++k;
    }
    while (k < i && trace[k].sub != SubCommand::EraseBlock) {
        ++k;
    }
    if (k == i) {
        return false;
    }
    for (std::size_t j = k + 1; j < i; ++j) {
        if (trace[j].sub == SubCommand::WriteSector) {
            return false;
        }
    }
    return trace[i].sub == SubCommand::WriteSector;
}

enum class Kind {
    FailCommand,
    UnplugBefore,
    FailSubAtSector,
    CorruptRead,
    WeakSector,
    FormatFails
};

std::string SpecOf(Kind kind, const Located& at) {
    switch (kind) {
        case Kind::FailCommand:
            return "fail-command=" + std::to_string(at.number);
        case Kind::UnplugBefore:
            return "unplug-after=" + std::to_string(at.number - 1);
        case Kind::FailSubAtSector:
            return "fail=" + std::to_string(static_cast<int>(at.command.sub)) + "@" +
                   std::to_string(at.command.operand);
        case Kind::CorruptRead:
            return "corrupt-read=" + std::to_string(at.command.operand);
        case Kind::WeakSector:
            return "weak-sector=" + std::to_string(at.command.operand);
        case Kind::FormatFails:
            return "format-fails";
    }
    return {};
}

struct Expected {
    JobEnding ending;
    std::vector<std::string> messages;
};

const Expected kCompleted{JobEnding::Completed, {}};
const Expected kLaunchFailed{JobEnding::LaunchFailed, {texts::kUnknownChip}};
const Expected kFormatFailed{JobEnding::FormatFailed, {}};
const Expected kUnknownAfterFormat{JobEnding::InitFailed,
                                   {texts::kUnknownChip, texts::kInitFailed}};
const Expected kKernelRejected{JobEnding::InitFailed, {texts::kKernelChecksum, texts::kInitFailed}};
const Expected kReadBack{JobEnding::WriteFailed, {texts::kReadBack}};
// A block whose kept sectors cannot be read is left unerased, and the copy fails.
const Expected kBlockRead{JobEnding::WriteFailed, {texts::kBlockRead}};

struct FaultCase {
    Kind kind;
    Expected expected;
};

struct PhaseRow {
    const char* phase;
    Locator locate;
    std::vector<FaultCase> faults;
};

std::vector<PhaseRow> MatrixRows() {
    using enum Kind;
    const std::string send = texts::kSendImPm;
    const std::string fmt = texts::kFormatting;
    return {
        {"launch identification",
         Is(SubCommand::ReadId, ""),
         {{FailCommand, kLaunchFailed}, {FailSubAtSector, kLaunchFailed}}},
        // A refused spare read leaves a zero mark behind: the plan moves one block down, and the
        // copies follow the plan.
        {"bad-block walk while planning",
         Is(SubCommand::ReadSpare, ""),
         {{FailCommand, kCompleted}, {UnplugBefore, kFormatFailed}, {FailSubAtSector, kCompleted}}},
        {"format",
         Is(SubCommand::Format, fmt),
         {{FormatFails, kFormatFailed},
          {FailCommand, kFormatFailed},
          {UnplugBefore, kFormatFailed},
          {FailSubAtSector, kFormatFailed}}},
        {"renewed identification",
         Is(SubCommand::ReadId, fmt),
         {{FailCommand, kUnknownAfterFormat},
          {UnplugBefore, kUnknownAfterFormat},
          {FailSubAtSector, kLaunchFailed}}},
        // Kernel sectors that cannot be read reject the kernel block, instead of a zero layout
        // that a zero sum would seem to confirm.
        {"bad-block walk to the kernel block",
         Is(SubCommand::ReadSpare, fmt),
         {{FailCommand, kKernelRejected},
          {UnplugBefore, kKernelRejected},
          {FailSubAtSector, kKernelRejected}}},
        {"kernel block read",
         Is(SubCommand::ReadSector, fmt),
         {{FailCommand, kKernelRejected},
          {UnplugBefore, kKernelRejected},
          {FailSubAtSector, kKernelRejected},
          {CorruptRead, kKernelRejected}}},
        // The format has erased every block already, so a lost erase changes nothing.
        {"erasing",
         Is(SubCommand::EraseBlock, send),
         {{FailCommand, kCompleted}, {UnplugBefore, kBlockRead}, {FailSubAtSector, kCompleted}}},
        {"writing",
         Is(SubCommand::WriteSector, send),
         {{FailCommand, kReadBack},
          {UnplugBefore, kBlockRead},
          {FailSubAtSector, kReadBack},
          {WeakSector, kReadBack}}},
        {"bad-block walk while writing",
         Is(SubCommand::ReadSpare, send, 0),
         {{FailCommand, kReadBack}, {UnplugBefore, kBlockRead}, {FailSubAtSector, kCompleted}}},
        // A kept sector that cannot be read stops the copy before its block is erased. One read
        // wrong in transit is written back as read: kept sectors lie outside the image, so
        // verification does not see them.
        {"block preservation read",
         Is(SubCommand::ReadSector, send, 0),
         {{FailCommand, kBlockRead},
          {UnplugBefore, kBlockRead},
          {FailSubAtSector, kBlockRead},
          {CorruptRead, kCompleted}}},
        {"block preservation write-back",
         IsFirstWriteBack,
         {{FailCommand, kCompleted},
          {UnplugBefore, kReadBack},
          {FailSubAtSector, kCompleted},
          {WeakSector, kCompleted}}},
        {"verification",
         Is(SubCommand::ReadSector, send, 1),
         {{FailCommand, kReadBack},
          {UnplugBefore, kReadBack},
          {FailSubAtSector, kReadBack},
          {CorruptRead, kReadBack}}},
        {"bad-block walk while verifying",
         Is(SubCommand::ReadSpare, send, 1),
         {{FailCommand, kReadBack}, {UnplugBefore, kReadBack}, {FailSubAtSector, kCompleted}}},
        // The first step down reads the marks of bad block 1020, which reads as bad either way.
        {"backward walk over a bad block",
         Is(SubCommand::ReadSpare, texts::kBackupUit, 0),
         {{FailCommand, kCompleted}, {UnplugBefore, kBlockRead}, {FailSubAtSector, kCompleted}}},
        {"backward walk onto a good block",
         [](const std::vector<TracedCommand>& trace, std::size_t i) {
             return Is(SubCommand::ReadSpare, texts::kBackupUit, 0)(trace, i) &&
                    trace[i].operand / 32 != kBadBlock;
         },
         {{FailCommand, kReadBack}, {UnplugBefore, kBlockRead}, {FailSubAtSector, kCompleted}}},
        {"writing a backup copy",
         Is(SubCommand::WriteSector, texts::kBackupUit, 0),
         {{FailCommand, kReadBack},
          {UnplugBefore, kBlockRead},
          {FailSubAtSector, kReadBack},
          {WeakSector, kReadBack}}},
        {"verifying the last copy",
         Is(SubCommand::ReadSector, texts::kBackupFont, 1),
         {{FailCommand, kReadBack},
          {UnplugBefore, kReadBack},
          {FailSubAtSector, kReadBack},
          {CorruptRead, kReadBack}}},
    };
}

FaultPlan PlanOf(const std::string& faultText) {
    FaultPlan plan;
    std::string error;
    EXPECT_TRUE(sim::ParseFaultSpec(faultText, plan, &error)) << error;
    return plan;
}

// What a job that ends this way reports, checked against the clean run.
void ExpectEnding(const RunResult& run, const Expected& expected,
                  const std::vector<std::string>& cleanStatuses) {
    EXPECT_EQ(JobEndingName(run.ending), std::string(JobEndingName(expected.ending)));
    EXPECT_EQ(run.messages, expected.messages);
    EXPECT_TRUE(run.closed) << "the player is closed at every ending";
    switch (expected.ending) {
        case JobEnding::Completed:
            EXPECT_EQ(run.exitCode, std::optional<std::uint32_t>(0));
            EXPECT_EQ(run.statuses, cleanStatuses);
            return;
        case JobEnding::LaunchFailed:
            EXPECT_FALSE(run.exitCode.has_value());
            EXPECT_EQ(run.statuses, std::vector<std::string>{texts::kFailed});
            return;
        case JobEnding::InitFailed:
            EXPECT_EQ(run.exitCode, std::optional<std::uint32_t>(0));
            break;
        case JobEnding::FormatFailed:
        case JobEnding::WriteFailed:
            EXPECT_EQ(run.exitCode,
                      std::optional<std::uint32_t>(CWorkerThread::kExitCodeStillActive));
            break;
        case JobEnding::SaveFailed:
        case JobEnding::Interrupted:
            ADD_FAILURE() << "no fault of the simulated player ends a job this way";
            return;
    }
    // Up to the failure the job reports what a clean job does, then the failed status.
    ASSERT_FALSE(run.statuses.empty());
    EXPECT_EQ(run.statuses.back(), texts::kFailed);
    ASSERT_LE(run.statuses.size(), cleanStatuses.size());
    EXPECT_TRUE(std::equal(run.statuses.begin(), run.statuses.end() - 1, cleanStatuses.begin()))
        << "statuses before the failure differ from a clean job's";
}

// The first differing sector of two raw exports, for a readable failure.
std::string FirstDifference(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) {
            return "first difference in sector " + std::to_string(i / sim::kRawSectorBytes);
        }
    }
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
}

TEST_F(FaultMatrix, EveryFaultAtEveryPhaseEndsAsSpecifiedAndACleanDownloadRestoresTheFlash) {
    ASSERT_EQ(s_clean.ending, JobEnding::Completed);
    const std::vector<std::string>& cleanStatuses = s_clean.statuses;
    int cases = 0;
    for (const PhaseRow& row : MatrixRows()) {
        const Located at = FindFirst(s_clean.trace, row.locate);
        ASSERT_NE(at.number, 0u) << "the clean run has no command for phase " << row.phase;
        for (const FaultCase& fault : row.faults) {
            const std::string faultText = SpecOf(fault.kind, at);
            SCOPED_TRACE(std::string(row.phase) + ": " + faultText);
            std::shared_ptr<SimPlayer> player = NewPlayer();
            ASSERT_TRUE(player);
            const RunResult faulty = Run(player, PlanOf(faultText));
            ExpectEnding(faulty, fault.expected, cleanStatuses);

            // Nothing is lost: the same player, with the fault gone, takes a clean download.
            const RunResult again = Run(player, {});
            EXPECT_EQ(again.ending, JobEnding::Completed);
            const std::string raw = Raw(*player);
            EXPECT_TRUE(raw == s_referenceRaw) << FirstDifference(raw, s_referenceRaw);
            ++cases;
        }
    }
    std::printf("fault cases run: %d\n", cases);
}

TEST_F(FaultMatrix, UnplugInTheMiddleOfEveryImageEndsInAFailure) {
    // In the middle of each copy's writing.
    std::vector<std::pair<std::uint64_t, Expected>> points;
    for (const char* stage : {texts::kSendImPm, texts::kBackupImPm, texts::kSendUit,
                              texts::kBackupUit, texts::kSendFont, texts::kBackupFont}) {
        std::vector<std::uint64_t> numbers;
        for (std::size_t i = 0; i < s_clean.trace.size(); ++i) {
            const TracedCommand& command = s_clean.trace[i];
            if (command.stage == stage && !command.verifying &&
                command.sub == SubCommand::WriteSector) {
                numbers.push_back(i + 1);
            }
        }
        ASSERT_FALSE(numbers.empty()) << stage;
        // The first command the unplugged player refuses and the writer looks at decides the
        // message: a read of a partly covered block's kept sectors, or verification.
        const std::uint64_t point = numbers[numbers.size() / 2];
        bool keptRead = false;
        for (std::size_t i = point; i < s_clean.trace.size(); ++i) {
            const TracedCommand& command = s_clean.trace[i];
            if (command.stage != stage || command.verifying) {
                break;
            }
            if (command.sub == SubCommand::ReadSector) {
                keptRead = true;
                break;
            }
        }
        points.push_back({point, keptRead ? kBlockRead : kReadBack});
    }
    for (const auto& [point, expected] : points) {
        SCOPED_TRACE("unplug-after=" + std::to_string(point));
        std::shared_ptr<SimPlayer> player = NewPlayer();
        ASSERT_TRUE(player);
        const RunResult faulty = Run(player, PlanOf("unplug-after=" + std::to_string(point)));
        ExpectEnding(faulty, expected, s_clean.statuses);
        const RunResult again = Run(player, {});
        EXPECT_EQ(again.ending, JobEnding::Completed);
        EXPECT_TRUE(Raw(*player) == s_referenceRaw);
    }
}

// The contract end to end: faults given to qdxflash end as its events say, and the same player
// file then takes a clean download.
TEST_F(FaultMatrix, QdxflashReportsFaultsThroughItsEventsAndExitStatus) {
    const std::string player = (s_dir->Path() / "cli player.sim").string();
    std::string output;
    ASSERT_EQ(RunQdxflash("sim create " + Quoted(player) + " --chip 0x73 --bad 1020", &output), 0)
        << output;
    const std::string files = " --uit " + Quoted(s_settings.uitPath) + " --hzk " +
                              Quoted(s_settings.fontPath) + " --impm " +
                              Quoted(s_settings.imPmPath) + " --events";
    const std::string middle = std::to_string(s_clean.trace.size() / 2);
    struct Case {
        std::string faults;
        int status;
        std::string lastEvent;
        std::string message;  // a message event that must be present; empty for none
    };
    const Case cases[] = {
        {" --fault format-fails", 1, R"({"event":"end","ending":"format-failed","exitCode":259})",
         ""},
        {" --fault unplug-after=" + middle, 1,
         R"({"event":"end","ending":"write-failed","exitCode":259})",
         R"({"event":"message","text":"Read back error"})"},
        {" --fault fail=0@0", 1, R"({"event":"end","ending":"launch-failed"})",
         std::string(R"({"event":"message","text":")") + texts::kUnknownChip + "\"}"},
        {"", 0, R"({"event":"end","ending":"completed","exitCode":0})", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults);
        EXPECT_EQ(RunQdxflash("download --sim " + Quoted(player) + files + c.faults, &output),
                  c.status)
            << output;
        std::string last;
        std::istringstream lines(output);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty()) {
                last = line;
            }
        }
        EXPECT_EQ(last, c.lastEvent);
        if (!c.message.empty()) {
            EXPECT_NE(output.find(c.message), std::string::npos) << output;
        }
    }
    // The clean download through the program leaves the flash as the engine's reference run.
    std::unique_ptr<SimPlayer> loaded = SimPlayer::Load(player, &output);
    ASSERT_TRUE(loaded) << output;
    EXPECT_TRUE(Raw(*loaded) == s_referenceRaw) << FirstDifference(Raw(*loaded), s_referenceRaw);
}

// The reference itself: every image in its primary and backup areas, byte for byte, over good
// blocks only, so that "equal to the reference" means "right".
TEST_F(FaultMatrix, TheReferenceDownloadPlacesEveryCopy) {
    ASSERT_TRUE(s_reference);
    const std::uint32_t spb = s_reference->SectorsPerBlock();
    struct Copy {
        std::string path;
        SubCommand firstWriteIn;
        const char* stage;
        bool backward;
    };
    // Each copy starts where the clean run wrote its first sector in that stage.
    const Copy copies[] = {
        {s_settings.imPmPath, SubCommand::WriteSector, texts::kSendImPm, false},
        {s_settings.imPmPath, SubCommand::WriteSector, texts::kBackupImPm, true},
        {s_settings.uitPath, SubCommand::WriteSector, texts::kSendUit, false},
        {s_settings.uitPath, SubCommand::WriteSector, texts::kBackupUit, true},
        {s_settings.fontPath, SubCommand::WriteSector, texts::kSendFont, false},
        {s_settings.fontPath, SubCommand::WriteSector, texts::kBackupFont, true},
    };
    for (const Copy& copy : copies) {
        SCOPED_TRACE(copy.stage);
        std::ifstream in(copy.path, std::ios::binary);
        std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        const Located first = FindFirst(s_clean.trace, Is(copy.firstWriteIn, copy.stage, 0));
        ASSERT_NE(first.number, 0u);
        // Images here start at the first sector of a block; kept sectors are written back first,
        // so the first write of a stage may be a kept sector: step back to the block start.
        std::int64_t block = first.command.operand / spb;
        const std::size_t sectors = (image.size() - 512 + 511) / 512;
        std::uint8_t data[512];
        for (std::size_t k = 0; k < sectors; ++k) {
            if (k > 0 && k % spb == 0) {
                do {
                    block += copy.backward ? -1 : 1;
                } while (s_reference->IsFactoryBad(static_cast<std::uint32_t>(block)));
            }
            s_reference->ReadData(static_cast<std::uint32_t>(block) * spb + k % spb, data);
            for (std::size_t b = 0; b < 512; ++b) {
                const std::size_t at = 512 + k * 512 + b;
                ASSERT_EQ(data[b], at < image.size() ? image[at] : 0)
                    << "block " << block << " sector " << k % spb << " byte " << b;
            }
        }
    }
}

}  // namespace
}  // namespace qdx::test
