#include "cli/RunSetup.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "engine/ImageFile.h"
#include "files/BuiltinImage.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define QDX_ISATTY _isatty
#define QDX_FILENO _fileno
#else
#include <sys/ioctl.h>
#include <unistd.h>
#define QDX_ISATTY isatty
#define QDX_FILENO fileno
#endif

namespace qdx::cli {

const char kPlaceholderMessage[] =
    "this build carries the placeholder IM/PM image, not the player's firmware; written to a "
    "real player it would fill the codec area with noise. Give the firmware with --impm FILE, "
    "or build with cmake -DQDX_IMPM_IMAGE=/path/to/firmware";

namespace {

bool AddPlayerSetting(const std::string& setting, players::PlayerTarget& target,
                      std::string* error) {
    if (setting.rfind("latency-us=", 0) == 0) {
        const std::string value = setting.substr(11);
        char* end = nullptr;
        const unsigned long micros = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || value[0] == '-' || micros > 1000000) {
            *error = "latency-us needs a number of microseconds up to 1000000";
            return false;
        }
        target.latency = std::chrono::microseconds(micros);
        return true;
    }
    return sim::ParseFaultSpec(setting, target.faults, error);
}

}  // namespace

std::optional<players::PlayerTarget> ResolveTarget(const CliCommand& command, const Target& target,
                                                   std::string* error) {
    players::PlayerTarget resolved;
    resolved.path = target.path;
    resolved.tracePath = command.tracePath;
    if (target.kind == TargetKind::Device) {
        resolved.kind = players::PlayerTarget::Kind::Device;
        return resolved;
    }
    resolved.kind = players::PlayerTarget::Kind::Sim;
    resolved.latency = std::chrono::microseconds(command.latencyMicros);
    for (const std::string& fault : command.faults) {
        if (!sim::ParseFaultSpec(fault, resolved.faults, error)) {
            *error = "--fault " + fault + ": " + *error;
            return std::nullopt;
        }
    }
    std::error_code exists;
    const std::size_t colon = target.path.rfind(':');
    if (colon == std::string::npos || colon == 0 ||
        std::filesystem::exists(std::filesystem::path(target.path), exists)) {
        return resolved;
    }
    resolved.path = target.path.substr(0, colon);
    std::istringstream settings(target.path.substr(colon + 1));
    for (std::string setting; std::getline(settings, setting, ',');) {
        if (!AddPlayerSetting(setting, resolved, error)) {
            *error = "--sim " + target.path + ": " + *error;
            return std::nullopt;
        }
    }
    return resolved;
}

ReportMode ModeFor(const CliCommand& command, std::ostream& out) {
    if (command.events) {
        return ReportMode::Events;
    }
    // Redraw in place only on a terminal; a pipe or file gets plain lines.
    const bool terminal = &out == &std::cout && QDX_ISATTY(QDX_FILENO(stdout));
    return terminal ? ReportMode::TerminalLive : ReportMode::TerminalPlain;
}

TerminalStyle StyleFor(std::ostream& out) {
    TerminalStyle style;
    const char* noColor = std::getenv("NO_COLOR");
    style.color = &out == &std::cout && (noColor == nullptr || noColor[0] == '\0');
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        style.width = info.srWindow.Right - info.srWindow.Left + 1;
    }
    style.color = false;  // the classic console shows escape sequences as they are
#else
    winsize size{};
    if (::ioctl(QDX_FILENO(stdout), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        style.width = size.ws_col;
    } else if (const char* columns = std::getenv("COLUMNS")) {
        style.width = std::max(20, std::atoi(columns));
    }
#endif
    return style;
}

FirmwarePaths PathsFor(const CliCommand& command) {
    FirmwarePaths paths;
    if (command.impmPath) {
        // "bin" would select the built-in image; a file of that name is meant here.
        paths.imPmPath = *command.impmPath == kBuiltinImagePath ? "./bin" : *command.impmPath;
    }
    paths.uitPath = command.uitPath;
    paths.fontPath = command.hzkPath;
    return paths;
}

SharedImages ReadImagesOnce(const FirmwarePaths& paths) {
    SharedImages images;
    for (const std::string& path : {paths.imPmPath, paths.uitPath, paths.fontPath}) {
        images.emplace_back(path, std::make_shared<const ImageData>(
                                      path == kBuiltinImagePath ? ImageFromBytes(BuiltinImage())
                                                                : ReadImageFile(path)));
    }
    return images;
}

bool ImagesValid(const SharedImages& images, std::ostream& err) {
    bool valid = true;
    for (const auto& [path, image] : images) {
        if (!image->Valid()) {
            err << "qdxflash: " << path << ": " << image->reason << " ("
                << ImageFaultMessage(image->fault) << ")\n";
            valid = false;
        }
    }
    return valid;
}

}  // namespace qdx::cli
