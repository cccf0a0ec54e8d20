// What download, station and info share before any player is touched: the player a target
// names (with a simulated player's own faults and latency), how the output looks, and the images
// read once for every player of a run.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "cli/CommandLine.h"
#include "cli/PlayerDownload.h"
#include "cli/Reporter.h"
#include "players/PlayerSource.h"

namespace qdx::cli {

// The player a target names. A simulated player's file may carry its own faults and latency
// after its last colon (p.sim:unplug-after=900,latency-us=1000) unless a file of the whole name
// exists; the command's --fault and --latency-us apply to every simulated player. Null with
// *error set for a setting that cannot be read.
std::optional<players::PlayerTarget> ResolveTarget(const CliCommand& command, const Target& target,
                                                   std::string* error);

// Events, live lines on a terminal, or plain lines, as the command and its output ask.
ReportMode ModeFor(const CliCommand& command, std::ostream& out);
// The terminal's width and whether colour may be used (not when NO_COLOR is set).
TerminalStyle StyleFor(std::ostream& out);

// The job's options and images as the command gives them.
FirmwarePaths PathsFor(const CliCommand& command);

// Reads and judges every image of the run once; each engine takes these, judged as they are.
SharedImages ReadImagesOnce(const FirmwarePaths& paths);
// True when every image can be written; otherwise names the file and why on err.
bool ImagesValid(const SharedImages& images, std::ostream& err);

// The message refusing the placeholder firmware on a real player.
extern const char kPlaceholderMessage[];

}  // namespace qdx::cli
