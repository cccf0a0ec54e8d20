// The commands of qdxflash. Each returns the process's exit status: 0 success, 1 the job or
// check failed, 2 a usage error or a player file that cannot be used.
#pragma once

#include <ostream>

#include "cli/CommandLine.h"

namespace qdx::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int RunSimCreate(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunSimExport(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunSimServe(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunInfo(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunDownload(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunCheck(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunPack(const CliCommand& command, std::ostream& out, std::ostream& err);
int RunList(const CliCommand& command, std::ostream& out, std::ostream& err);

}  // namespace qdx::cli
