// The command line of qdxflash, parsed into one command without touching files or devices.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qdx::cli {

enum class CommandKind {
    Help,
    SimCreate,
    SimExport,
    SimServe,
    Info,
    Download,
    Station,
    Check,
    Pack,
    List
};

enum class TargetKind { Sim, Device };

// One player a command names: a simulated player file (with, for download, its own faults and
// latency after a colon: p.sim:unplug-after=900,latency-us=1000) or a disk.
struct Target {
    TargetKind kind = TargetKind::Sim;
    std::string path;  // as given
    bool operator==(const Target&) const = default;
};

struct BlockRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;  // inclusive
};

struct CliCommand {
    CommandKind kind = CommandKind::Help;
    std::string helpTopic;  // for Help: "", "sim", "sim create", "download", ...

    // sim create / sim export
    std::string playerPath;
    std::uint8_t chipCode = 0;
    bool twoChips = false;
    bool force = false;  // sim create: replace an existing player file
    std::vector<std::uint32_t> badBlocks;
    std::string rawPath;
    std::optional<BlockRange> blocks;

    // info (exactly one target) / download (one or more, or every player with --all) / station
    std::vector<Target> targets;
    bool allPlayers = false;
    std::string uitPath;
    std::string hzkPath;
    std::optional<std::string> impmPath;
    bool events = false;
    std::vector<std::string> faults;  // as given, for every simulated player; parsed later
    std::string tracePath;
    std::uint32_t latencyMicros = 0;  // simulated players: a pause per command, for demonstrations

    // sim serve (also playerPath, faults, tracePath, latencyMicros)
    std::string volumePath;  // the disk's logical sectors; empty: a blank disk in memory
    std::uint16_t usbVendorId = 0x1D6B;
    std::uint16_t usbProductId = 0x0104;
    std::string usbSerial = "QDXSIM0001";
    std::string udcName;  // empty: the first USB device controller

    // station
    std::string simDir;   // simulated players arrive as *.sim files in it; empty: real players
    std::string logPath;  // one JSON line per finished player is appended; empty: none

    // check / pack
    std::vector<std::string> files;
    std::string payloadPath;
    std::string outputPath;
};

struct ParseResult {
    std::optional<CliCommand> command;
    std::string error;  // set when command is empty: one line, for standard error
};

// args are the arguments after the program name.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The usage text of a help topic ("" for the whole tool).
std::string UsageText(const std::string& topic);

}  // namespace qdx::cli
