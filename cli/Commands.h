// The commands of qdxflash. Each returns the process's exit status: 0 success, 1 the job or
// check failed, 2 a usage error or a player file that cannot be used.
#pragma once

#include <memory>
#include <ostream>

#include "cli/CommandLine.h"
#include "players/PlayerSource.h"

namespace qdx::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int RunSimCreate(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunSimExport(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunSimServe(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunInfo(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunDownload(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunStation(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunCheck(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunPack(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunList(const CliCommand& command, std::ostream& out, std::ostream& err);

// The message and end event of a command line that could not be read, for --events.
void ReportUsageErrorAsEvents(const std::string& error, std::ostream& out);

// The player that info or download names (--sim or --device), with a simulated player's faults
// parsed and its file loaded. Returns 0, or the exit status of a usage error with the message on
// err.
int PrepareTarget(const CliCommand& command, std::unique_ptr<players::PlayerSource>& source,
                  std::ostream& err);

}  // namespace qdx::cli
