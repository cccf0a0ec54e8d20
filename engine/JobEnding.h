// How one download ended, recorded where it happens and handed to the front ends as a value.
#pragma once

namespace qdx {

enum class JobEnding {
    Completed,     // every image and backup written and verified
    FormatFailed,  // the format command failed; nothing written
    InitFailed,    // the renewed identification or the kernel block failed after the format
    WriteFailed,   // an image was refused or did not write or read back
    LaunchFailed,  // no worker ran: the player could not be opened or identified
    SaveFailed,    // a simulated player's result could not be saved
    Interrupted,   // a signal ended the job before it finished
};

// The name used in events and on the terminal: "completed", "format-failed", ...
constexpr const char* JobEndingName(JobEnding ending) {
    switch (ending) {
        case JobEnding::Completed:
            return "completed";
        case JobEnding::FormatFailed:
            return "format-failed";
        case JobEnding::InitFailed:
            return "init-failed";
        case JobEnding::WriteFailed:
            return "write-failed";
        case JobEnding::LaunchFailed:
            return "launch-failed";
        case JobEnding::SaveFailed:
            return "save-failed";
        case JobEnding::Interrupted:
            return "interrupted";
    }
    return "launch-failed";
}

}  // namespace qdx
