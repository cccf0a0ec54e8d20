// qdxbench: runs whole downloads (launch and job: format, renewed identification, three images
// with backup and verify) against the simulated player of every chip geometry and prints one
// markdown table of measured figures and targets.
//
//   qdxbench [--runs N] [--samples DIR] [--work DIR] [--qdxflash PATH] [--line-only]
//   qdxbench --child INDEX --uit FILE --hzk FILE    (one download, for the peak-memory figure)
//
// A second table times qdxflash itself downloading several simulated players at once at the
// pace of a real player (1 ms per command): the production line's figures.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/CDownloadThread.h"
#include "engine/CFlashEngine.h"
#include "engine/DownloadLaunch.h"
#include "engine/ImageFile.h"
#include "engine/facts/ChipTable.h"
#include "files/BuiltinImage.h"
#include "sim/SimDevice.h"
#include "sim/SimPlayer.h"

namespace {

namespace fs = std::filesystem;
using qdx::SubCommand;

#ifndef QDX_SAMPLES_DIR
#define QDX_SAMPLES_DIR "samples"
#endif
#ifndef QDXFLASH_PATH
#define QDXFLASH_PATH "qdxflash"
#endif

struct Geometry {
    std::uint8_t code;
    bool twoChips;
};

constexpr std::array<Geometry, 9> kGeometries{{{0x73, false},
                                               {0x75, false},
                                               {0x76, false},
                                               {0x79, false},
                                               {0xF1, false},
                                               {0xDA, false},
                                               {0xDC, false},
                                               {0xD3, false},
                                               {0xD3, true}}};

constexpr double kTargetNsPerCommand = 1000.0;
constexpr double kTargetSmallChipMs = 100.0;  // 0x73, the 16 MB chip
constexpr double kTargetTwoD3Ms = 1000.0;     // two 0xD3 chips
constexpr double kTargetPeakMiB = 64.0;
constexpr double kRealCommandMs = 1.0;  // one vendor command's round trip on a real player
constexpr std::chrono::milliseconds kOperatorPause{300};
// The production line: players downloaded at once, and how much slower than one they may be.
constexpr std::array<int, 4> kLinePlayers{1, 4, 8, 16};
constexpr double kLineTarget8 = 1.2;
constexpr double kLineTarget16 = 1.5;

std::string Label(const Geometry& g) {
    const qdx::ChipRow* row = qdx::FindChip(g.code);
    const int mb = row ? row->geometry.capacityMB * (g.twoChips ? 2 : 1) : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%s0x%02X %d MB", g.twoChips ? "2×" : "", g.code, mb);
    return text;
}

double ProcessCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// The images of a download: the built-in IM/PM image and the UIT and font files.
struct Images {
    std::string uitPath;
    std::string fontPath;
    std::string origin;             // where the UIT and font files came from
    std::uint32_t sectors[3] = {};  // payload sectors: IM/PM, UIT, font
};

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A payload that is not all one value, so that a misplaced sector fails the job's verification.
std::vector<std::uint8_t> MakePayload(std::size_t bytes, std::uint32_t seed) {
    std::vector<std::uint8_t> payload(bytes);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::uint8_t& b : payload) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return payload;
}

// The sample file when it is there and valid; otherwise an equivalent image written to workDir.
bool PickImage(const fs::path& sample, const fs::path& workDir, std::size_t payloadBytes,
               std::uint32_t seed, std::string& path, std::uint32_t& sectors, bool& generated,
               std::string* error) {
    std::error_code ec;
    if (fs::is_regular_file(sample, ec)) {
        const qdx::ImageCheck check = qdx::CheckImage(ReadFile(sample));
        if (check.valid) {
            path = sample.string();
            sectors = check.payloadSectors;
            generated = false;
            return true;
        }
    }
    std::vector<std::uint8_t> image;
    if (!qdx::PackImage(MakePayload(payloadBytes, seed), image, error)) {
        return false;
    }
    fs::create_directories(workDir, ec);
    const fs::path target = workDir / ("bench-" + sample.filename().string());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) {
        *error = "cannot write " + target.string();
        return false;
    }
    path = target.string();
    sectors = qdx::CheckImage(image).payloadSectors;
    generated = true;
    return true;
}

bool PrepareImages(const fs::path& samplesDir, const fs::path& workDir, Images& images,
                   std::string* error) {
    images.sectors[0] = qdx::CheckImage(qdx::BuiltinImage()).payloadSectors;
    bool uitGenerated = false;
    bool fontGenerated = false;
    if (!PickImage(samplesDir / "player.uit", workDir, 96 * 1024, 2, images.uitPath,
                   images.sectors[1], uitGenerated, error) ||
        !PickImage(samplesDir / "font.hzk", workDir, 261696, 3, images.fontPath, images.sectors[2],
                   fontGenerated, error)) {
        return false;
    }
    images.origin = std::string("UIT ") + (uitGenerated ? "generated" : "from samples/") +
                    ", font " + (fontGenerated ? "generated" : "from samples/");
    return true;
}

// The front end of the benchmark: remembers how the job ended, shows nothing.
class QuietPorts : public qdx::IButtonControl,
                   public qdx::ITextControl,
                   public qdx::IProgressControl,
                   public qdx::IMessageBox {
public:
    void SetEnabled(bool) override {}
    bool SetText(const std::string& text) override {
        lastStatus = text;
        return true;
    }
    bool SetPosition(int, int) override { return true; }
    void Show(const std::string& text) override { lastMessage = text; }

    std::string lastStatus;
    std::string lastMessage;
};

struct RunResult {
    bool completed = false;
    std::string problem;
    double cpuNs = 0;   // launch and job
    double wallMs = 0;  // player creation, launch and job
    std::uint64_t commands = 0;
    std::array<std::uint64_t, 8> bySub{};
};

// One whole download onto a factory-fresh simulated player, held in memory, no latency.
RunResult RunDownload(const Geometry& g, const Images& images, std::chrono::milliseconds pause) {
    RunResult result;
    const auto wallStart = std::chrono::steady_clock::now();
    std::string error;
    std::shared_ptr<qdx::sim::SimPlayer> player =
        qdx::sim::SimPlayer::CreateFactory(g.code, g.twoChips, {}, &error);
    if (!player) {
        result.problem = error;
        return result;
    }
    auto device = std::make_shared<qdx::sim::SimDevice>(player);

    QuietPorts ports;
    qdx::CFlashEngine engine(&ports);
    engine.SetBuiltinImage(qdx::BuiltinImage());
    engine.SetEndingPause(pause);
    qdx::CDownloadThread thread;
    qdx::JobOptions options;
    qdx::SwitchOnJobOptions(options);
    qdx::FirmwarePaths paths;
    paths.uitPath = images.uitPath;
    paths.fontPath = images.fontPath;

    const double cpuStart = ProcessCpuNs();
    const qdx::LaunchOutcome outcome = qdx::LaunchDownload(
        engine, thread, [&] { return device; }, options, paths, {&ports, &ports, &ports, &ports});
    if (outcome == qdx::LaunchOutcome::Started) {
        thread.Join();
    }
    result.cpuNs = ProcessCpuNs() - cpuStart;
    result.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart)
            .count();

    result.commands = device->CommandCount();
    for (std::uint8_t sub = 0; sub < 8; ++sub) {
        result.bySub[sub] = device->CountOf(sub);
    }
    result.completed = outcome == qdx::LaunchOutcome::Started &&
                       thread.Ending() == qdx::JobEnding::Completed && ports.lastMessage.empty();
    if (!result.completed) {
        result.problem = "the job did not complete: status \"" + ports.lastStatus +
                         "\", message \"" + ports.lastMessage + "\"";
    }
    return result;
}

// Peak resident memory of one download in a fresh process of this program, in KiB; -1 on failure.
long PeakKiBInChild(const std::string& self, std::size_t index, const Images& images) {
    const std::string indexText = std::to_string(index);
    std::vector<const char*> argv = {
        self.c_str(),           "--child", indexText.c_str(),       "--uit",
        images.uitPath.c_str(), "--hzk",   images.fontPath.c_str(), nullptr};
    const pid_t pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        execv(self.c_str(), const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss;  // KiB on Linux
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

struct GeometryFigures {
    RunResult sample;  // counts of one run (every run sends the same commands)
    double nsPerCommand = 0;
    double cpuMs = 0;
    double wallMs = 0;
    double wallWithPauseMs = 0;
    double peakMiB = -1;
    bool countsStable = true;
};

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> width(rows[0].size(), 0);
    auto cells = [](const std::string& s) {  // display width: count UTF-8 lead bytes only
        return static_cast<std::size_t>(
            std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    };
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            width[i] = std::max(width[i], cells(row[i]));
        }
    }
    auto print = [&](const std::vector<std::string>& row) {
        std::string line = "|";
        for (std::size_t i = 0; i < row.size(); ++i) {
            const bool number = i > 0 && !row[i].empty() && (std::isdigit(row[i][0]) != 0);
            const std::string pad(width[i] - cells(row[i]), ' ');
            // Numbers to the right, text to the left.
            line.append(" ").append(number ? pad : "").append(row[i]);
            line.append(number ? "" : pad).append(" |");
        }
        std::printf("%s\n", line.c_str());
    };
    print(rows[0]);
    std::string rule = "|";
    for (std::size_t i = 0; i < width.size(); ++i) {
        rule += (i == 0 ? std::string(width[i] + 2, '-') : std::string(width[i] + 1, '-') + ":");
        rule += "|";
    }
    std::printf("%s\n", rule.c_str());
    for (std::size_t r = 1; r < rows.size(); ++r) {
        print(rows[r]);
    }
}

// One run of a program in a child process: its exit status, wall time and peak memory.
struct ChildRun {
    bool ok = false;
    double wallS = 0;
    long peakKiB = -1;
};

ChildRun RunProgram(const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        return {};
    }
    if (pid == 0) {
        // The figures, not the display: the program's own output goes nowhere.
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    ChildRun run;
    if (wait4(pid, &status, 0, &usage) == pid) {
        run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        run.peakKiB = usage.ru_maxrss;
    }
    run.wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

// qdxflash downloading `players` new 16 MB players at once, at 1 ms per command.
ChildRun RunLine(const std::string& qdxflash, int players, const Images& images,
                 const fs::path& workDir) {
    std::vector<std::string> args = {qdxflash, "download"};
    for (int i = 0; i < players; ++i) {
        const fs::path file = workDir / ("line-" + std::to_string(i) + ".sim");
        std::string error;
        const auto player = qdx::sim::SimPlayer::CreateFactory(0x73, false, {}, &error);
        if (!player || !player->Save(file.string(), &error)) {
            std::fprintf(stderr, "qdxbench: %s\n", error.c_str());
            return {};
        }
        args.push_back("--sim");
        args.push_back(file.string());
    }
    for (const char* option : {"--uit", "--hzk", "--latency-us", "--events"}) {
        args.push_back(option);
        if (std::string(option) == "--uit") {
            args.push_back(images.uitPath);
        } else if (std::string(option) == "--hzk") {
            args.push_back(images.fontPath);
        } else if (std::string(option) == "--latency-us") {
            args.push_back("1000");
        }
    }
    return RunProgram(args);
}

int RunChild(std::size_t index, const Images& images) {
    if (index >= kGeometries.size()) {
        return 2;
    }
    const RunResult r = RunDownload(kGeometries[index], images, std::chrono::milliseconds(0));
    if (!r.completed) {
        std::fprintf(stderr, "qdxbench: %s: %s\n", Label(kGeometries[index]).c_str(),
                     r.problem.c_str());
        return 1;
    }
    return 0;
}

// The production line's table: qdxflash downloading 1, 4, 8 and 16 players at once. True when
// its targets are met.
bool RunLineTable(const std::string& qdxflash, const Images& images, const fs::path& workDir) {
    std::error_code error;
    fs::create_directories(workDir, error);
    const ChildRun idle = RunProgram({qdxflash, "check", images.uitPath});
    std::vector<ChildRun> runs;
    for (int players : kLinePlayers) {
        runs.push_back(RunLine(qdxflash, players, images, workDir));
        if (!runs.back().ok) {
            std::fprintf(stderr, "qdxbench: %s did not complete %d players\n", qdxflash.c_str(),
                         players);
            return false;
        }
    }
    const double one = runs.front().wallS;
    const double share = static_cast<double>(runs.front().peakKiB - idle.peakKiB) / 1024.0;
    // Each added player: its simulated flash (the images written twice, about 1.6 MiB on this
    // chip), its engine, worker and thread.
    std::vector<std::vector<std::string>> rows = {{"Players at once (1 ms/command)", "Wall time, s",
                                                   "vs one", "Peak memory, MiB",
                                                   "Added per player, MiB", "Target", "Verdict"}};
    // Compared at the 0.1 MiB they are shown with: ru_maxrss moves by a few pages from run to run.
    auto tenths = [](double mib) { return std::lround(mib * 10.0); };
    bool met = true;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const int players = kLinePlayers[i];
        const double ratio = runs[i].wallS / one;
        const double added =
            players > 1 ? static_cast<double>(runs[i].peakKiB - runs.front().peakKiB) / 1024.0 /
                              (players - 1)
                        : share;
        std::string target;
        bool ok = true;
        if (players == 8 || players == 16) {
            const double limit = players == 8 ? kLineTarget8 : kLineTarget16;
            target = "<= " + Fixed(limit, 1) + "x one; <= " + Fixed(share, 1) + " MiB each";
            ok = ratio <= limit && tenths(added) <= tenths(share);
        } else if (players > 1) {
            target = "<= " + Fixed(share, 1) + " MiB each";
            ok = tenths(added) <= tenths(share);
        }
        met = met && ok;
        rows.push_back({std::to_string(players), Fixed(runs[i].wallS, 2), Fixed(ratio, 2) + "x",
                        Fixed(static_cast<double>(runs[i].peakKiB) / 1024.0, 1),
                        Fixed(added, 1), target,
                        players == 1 ? "" : std::string(ok ? "met" : "MISSED")});
    }
    std::printf(
        "qdxflash download of N new 16 MB players at once, 1 ms per vendor command; one player's "
        "share of memory is its peak over an idle qdxflash (%.1f MiB)\n\n",
        static_cast<double>(idle.peakKiB) / 1024.0);
    PrintTable(rows);
    return met;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: qdxbench [--runs N] [--samples DIR] [--work DIR] [--qdxflash PATH] "
                 "[--line-only]\n"
                 "       qdxbench --child INDEX --uit FILE --hzk FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    fs::path samplesDir = QDX_SAMPLES_DIR;
    fs::path workDir = fs::temp_directory_path() / "qdxbench";
    long childIndex = -1;
    Images images;
    std::string qdxflash = QDXFLASH_PATH;
    bool lineOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--line-only") {
            lineOnly = true;
            continue;
        }
        if (i + 1 >= argc) {
            return Usage();
        }
        const std::string value = argv[++i];
        if (arg == "--runs") {
            runs = std::atoi(value.c_str());
        } else if (arg == "--samples") {
            samplesDir = value;
        } else if (arg == "--work") {
            workDir = value;
        } else if (arg == "--child") {
            childIndex = std::atol(value.c_str());
        } else if (arg == "--uit") {
            images.uitPath = value;
        } else if (arg == "--hzk") {
            images.fontPath = value;
        } else if (arg == "--qdxflash") {
            qdxflash = value;
        } else {
            return Usage();
        }
    }
    if (childIndex >= 0) {
        return RunChild(static_cast<std::size_t>(childIndex), images);
    }
    if (runs < 1) {
        return Usage();
    }

    std::string error;
    if (!PrepareImages(samplesDir, workDir, images, &error)) {
        std::fprintf(stderr, "qdxbench: %s\n", error.c_str());
        return 1;
    }
    std::error_code ec;
    const std::string self = fs::read_symlink("/proc/self/exe", ec).string();
    if (lineOnly) {
        return RunLineTable(qdxflash, images, workDir) ? 0 : 3;
    }

    std::vector<GeometryFigures> figures(kGeometries.size());
    for (std::size_t gi = 0; gi < kGeometries.size(); ++gi) {
        const Geometry& g = kGeometries[gi];
        GeometryFigures& f = figures[gi];
        RunDownload(g, images, std::chrono::milliseconds(0));  // warm-up: caches, allocator
        std::vector<double> nsPerCommand, cpuMs, wallMs;
        for (int run = 0; run < runs; ++run) {
            const RunResult r = RunDownload(g, images, std::chrono::milliseconds(0));
            if (!r.completed || r.commands == 0) {
                std::fprintf(stderr, "qdxbench: %s: %s\n", Label(g).c_str(), r.problem.c_str());
                return 1;
            }
            if (run > 0 && (r.commands != f.sample.commands || r.bySub != f.sample.bySub)) {
                f.countsStable = false;
            }
            f.sample = r;
            nsPerCommand.push_back(r.cpuNs / static_cast<double>(r.commands));
            cpuMs.push_back(r.cpuNs / 1e6);
            wallMs.push_back(r.wallMs);
        }
        f.nsPerCommand = Median(nsPerCommand);
        f.cpuMs = Median(cpuMs);
        f.wallMs = Median(wallMs);
        const RunResult paused = RunDownload(g, images, kOperatorPause);
        if (!paused.completed) {
            std::fprintf(stderr, "qdxbench: %s: %s\n", Label(g).c_str(), paused.problem.c_str());
            return 1;
        }
        f.wallWithPauseMs = paused.wallMs;
        const long kib = self.empty() ? -1 : PeakKiBInChild(self, gi, images);
        if (kib < 0) {
            std::fprintf(stderr, "qdxbench: %s: the download in a child process failed\n",
                         Label(g).c_str());
            return 1;
        }
        f.peakMiB = static_cast<double>(kib) / 1024.0;
    }

    // The least the images need: every payload sector written and read back, in two copies.
    std::uint64_t minimumSectors = 0;
    for (std::uint32_t s : images.sectors) {
        minimumSectors += std::uint64_t{s} * 2 * 2;
    }
    const double minimumBytes = static_cast<double>(minimumSectors) * 512.0;

    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> header = {"Measure"};
    for (const Geometry& g : kGeometries) {
        header.push_back(Label(g));
    }
    header.push_back("Target");
    header.push_back("Verdict");
    rows.push_back(header);

    auto addRow = [&](const std::string& name, auto value, const std::string& target = "",
                      const std::string& verdict = "") {
        std::vector<std::string> row = {name};
        for (const GeometryFigures& f : figures) {
            row.push_back(value(f));
        }
        row.push_back(target);
        row.push_back(verdict);
        rows.push_back(row);
    };
    auto verdict = [](bool met) { return std::string(met ? "met" : "MISSED"); };
    const GeometryFigures& small = figures.front();
    const GeometryFigures& twoD3 = figures.back();

    bool cpuMet = true, memoryMet = true, stable = true;
    for (const GeometryFigures& f : figures) {
        cpuMet = cpuMet && f.nsPerCommand < kTargetNsPerCommand;
        memoryMet = memoryMet && f.peakMiB < kTargetPeakMiB;
        stable = stable && f.countsStable;
    }
    const bool wallMet = small.wallMs < kTargetSmallChipMs && twoD3.wallMs < kTargetTwoD3Ms;

    addRow(
        "1. Host CPU per command, ns (median)",
        [](const GeometryFigures& f) { return Fixed(f.nsPerCommand, 0); }, "< 1000 each",
        verdict(cpuMet));
    addRow("   Host CPU per download, ms (median)",
           [](const GeometryFigures& f) { return Fixed(f.cpuMs, 2); });
    addRow(std::string("2. Commands per download (launch + job)") + (stable ? "" : " [varied!]"),
           [](const GeometryFigures& f) { return std::to_string(f.sample.commands); });
    const std::array<std::pair<SubCommand, const char*>, 7> subs{{
        {SubCommand::ReadId, "   ReadId"},
        {SubCommand::ReadSector, "   ReadSector"},
        {SubCommand::ReadSpare, "   ReadSpare"},
        {SubCommand::WriteSector, "   WriteSector"},
        {SubCommand::EraseBlock, "   EraseBlock"},
        {SubCommand::SetWriteTag, "   SetWriteTag"},
        {SubCommand::Format, "   Format"},
    }};
    for (const auto& [sub, name] : subs) {
        const auto index = static_cast<std::size_t>(sub);
        addRow(name,
               [index](const GeometryFigures& f) { return std::to_string(f.sample.bySub[index]); });
    }
    auto bytesMoved = [](const GeometryFigures& f) {
        const auto& n = f.sample.bySub;
        return static_cast<double>(n[static_cast<int>(SubCommand::ReadId)] * qdx::kIdBytes +
                                   (n[static_cast<int>(SubCommand::ReadSector)] +
                                    n[static_cast<int>(SubCommand::WriteSector)]) *
                                       qdx::kSectorBytes +
                                   n[static_cast<int>(SubCommand::ReadSpare)] * qdx::kSpareBytes);
    };
    addRow("   Bytes moved, KiB",
           [&](const GeometryFigures& f) { return Fixed(bytesMoved(f) / 1024.0, 1); });
    addRow("   Minimum sectors: payload × 2 copies × (write + verify)",
           [&](const GeometryFigures&) { return std::to_string(minimumSectors); });
    addRow("   Commands / minimum", [&](const GeometryFigures& f) {
        return Fixed(static_cast<double>(f.sample.commands) / static_cast<double>(minimumSectors),
                     3);
    });
    addRow("   Bytes moved / minimum bytes",
           [&](const GeometryFigures& f) { return Fixed(bytesMoved(f) / minimumBytes, 3); });
    addRow(
        "3. Wall time, ms (median; new player + launch + job, end pause 0, no save)",
        [](const GeometryFigures& f) { return Fixed(f.wallMs, 1); }, "0x73 < 100, 2×0xD3 < 1000",
        verdict(wallMet));
    addRow("   Same with the 300 ms end pause, ms (one run)",
           [](const GeometryFigures& f) { return Fixed(f.wallWithPauseMs, 1); });
    addRow(
        "   Peak memory, MiB (one download in a child process, ru_maxrss)",
        [](const GeometryFigures& f) { return Fixed(f.peakMiB, 1); }, "< 64 each",
        verdict(memoryMet));
    addRow("4. Operator's wait on a real player, s (1 ms/command + 300 ms)",
           [](const GeometryFigures& f) {
               return Fixed((static_cast<double>(f.sample.commands) * kRealCommandMs +
                             static_cast<double>(kOperatorPause.count())) /
                                1000.0,
                            1);
           });

    std::printf(
        "qdxbench: %d runs per geometry after one warm-up; images: built-in IM/PM (%u sectors), "
        "UIT (%u sectors), font (%u sectors); %s\n\n",
        runs, images.sectors[0], images.sectors[1], images.sectors[2], images.origin.c_str());
    PrintTable(rows);
    std::printf("\n");
    const bool lineMet = RunLineTable(qdxflash, images, workDir);
    return cpuMet && wallMet && memoryMet && stable && lineMet ? 0 : 3;
}
