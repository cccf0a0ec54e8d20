#include "cli/Ending.h"

namespace qdx::cli {

const char* EndingName(Ending ending) {
    switch (ending) {
        case Ending::Completed:
            return "completed";
        case Ending::FormatFailed:
            return "format-failed";
        case Ending::InitFailed:
            return "init-failed";
        case Ending::WriteFailed:
            return "write-failed";
        case Ending::LaunchFailed:
            return "launch-failed";
    }
    return "launch-failed";
}

bool IsImageStageStatus(const std::string& status) {
    for (const char* text : {texts::kSendImPm, texts::kBackupImPm, texts::kSendUit,
                             texts::kBackupUit, texts::kSendFont, texts::kBackupFont}) {
        if (status == text) {
            return true;
        }
    }
    return false;
}

Ending DeriveEnding(const JobObservation& job) {
    if (job.launch != LaunchOutcome::Started || !job.exitCode) {
        return Ending::LaunchFailed;
    }
    if (*job.exitCode != 0) {
        // The worker was ended: by the format step before any image, else by the writer.
        return job.imageStageReached ? Ending::WriteFailed : Ending::FormatFailed;
    }
    if (job.lastStatus == texts::kCompleted && !job.initFailedShown) {
        return Ending::Completed;
    }
    // The only ordinary ending besides completion is the renewed identification failing.
    return Ending::InitFailed;
}

}  // namespace qdx::cli
