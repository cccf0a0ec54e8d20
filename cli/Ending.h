// How a download ended, derived from what the launch and the worker did.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/DownloadLaunch.h"

namespace qdx::cli {

enum class Ending { Completed, FormatFailed, InitFailed, WriteFailed, LaunchFailed };

// The name used in events and on the terminal: "completed", "format-failed", ...
const char* EndingName(Ending ending);

struct JobObservation {
    LaunchOutcome launch = LaunchOutcome::OpenFailed;
    std::optional<std::uint32_t> exitCode;  // set when a worker ran
    std::string lastStatus;
    bool imageStageReached = false;  // a transfer or backup status was shown
    bool initFailedShown = false;    // the job's "flash initialisation failed" message
};

Ending DeriveEnding(const JobObservation& job);

// True for the status texts that open an image write or its backup.
bool IsImageStageStatus(const std::string& status);

}  // namespace qdx::cli
