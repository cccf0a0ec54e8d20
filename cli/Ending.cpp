#include "cli/Ending.h"

#include <cstdio>

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

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

}  // namespace qdx::cli
