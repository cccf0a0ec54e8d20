// download: the launch of the desktop program, then the worker's job, reported on the terminal
// or as events.
#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Interrupts.h"
#include "cli/Reporter.h"
#include "engine/CDownloadThread.h"
#include "engine/CFlashEngine.h"
#include "engine/DownloadLaunch.h"
#include "files/BuiltinImage.h"
#include "files/FirmwareFiles.h"
#include "players/PlayerSource.h"
#include "sim/AtomicFile.h"

#ifdef _WIN32
#include <io.h>
#define QDX_ISATTY _isatty
#define QDX_FILENO _fileno
#else
#include <unistd.h>
#define QDX_ISATTY isatty
#define QDX_FILENO fileno
#endif

namespace qdx::cli {

namespace {

const char kPlaceholderMessage[] =
    "this build carries the placeholder IM/PM image, not the player's firmware; written to a "
    "real player it would fill the codec area with noise. Give the firmware with --impm FILE, "
    "or build with cmake -DQDX_IMPM_IMAGE=/path/to/firmware";

ReportMode ModeFor(const CliCommand& command, std::ostream& out) {
    if (command.events) {
        return ReportMode::Events;
    }
    // Redraw the bar in place only on a terminal; a pipe or file gets one line per position.
    const bool terminal = &out == &std::cout && QDX_ISATTY(QDX_FILENO(stdout));
    return terminal ? ReportMode::TerminalLive : ReportMode::TerminalPlain;
}

}  // namespace

// The player a command names, with the simulated player's faults parsed. Exit status 0, or that
// of a usage error with the message on err.
int PrepareTarget(const CliCommand& command, std::unique_ptr<players::PlayerSource>& source,
                  std::ostream& err) {
    players::PlayerTarget target;
    target.kind = command.target == TargetKind::Sim ? players::PlayerTarget::Kind::Sim
                                                    : players::PlayerTarget::Kind::Device;
    target.path = command.targetPath;
    target.latency = std::chrono::microseconds(command.latencyMicros);
    target.tracePath = command.tracePath;
    std::string error;
    for (const std::string& faultText : command.faults) {
        if (!sim::ParseFaultSpec(faultText, target.faults, &error)) {
            err << "qdxflash: --fault " << faultText << ": " << error << '\n';
            return kExitUsage;
        }
    }
    source = players::PlayerSource::Prepare(target, &error);
    if (!source) {
        err << "qdxflash: " << error << '\n';
        return kExitUsage;
    }
    return kExitOk;
}

namespace {

// An image given where another kind is expected (--uit font.hzk) is written to the wrong area
// without a word otherwise; the file's name is the only hint there is.
void WarnAboutExtensions(const CliCommand& command, std::ostream& err) {
    const struct {
        const char* option;
        const std::string& path;
        const char* extension;
    } images[] = {{"--uit", command.uitPath, ".uit"}, {"--hzk", command.hzkPath, ".hzk"}};
    for (const auto& image : images) {
        std::string lower = image.path;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        const std::size_t length = std::char_traits<char>::length(image.extension);
        if (lower.size() < length ||
            lower.compare(lower.size() - length, length, image.extension) != 0) {
            err << "qdxflash: warning: " << image.option << ' ' << image.path << " does not end in "
                << image.extension << "; is it the right image?\n";
        }
    }
}

// The trace is an output; writing it over one of the command's inputs would lose that input.
bool TraceIsAnInput(const CliCommand& command, std::ostream& err) {
    if (command.tracePath.empty()) {
        return false;
    }
    std::vector<std::string> inputs = {command.targetPath, command.uitPath, command.hzkPath};
    if (command.impmPath) {
        inputs.push_back(*command.impmPath);
    }
    for (const std::string& input : inputs) {
        if (sim::SameFile(command.tracePath, input)) {
            err << "qdxflash: --trace " << command.tracePath << " is the same file as the input "
                << input << "; give the trace a file of its own\n";
            return true;
        }
    }
    return false;
}

}  // namespace

int RunDownload(const CliCommand& command, std::ostream& out, std::ostream& err) {
    if (TraceIsAnInput(command, err)) {
        return kExitUsage;
    }
    WarnAboutExtensions(command, err);
    // Held from before the player file is taken until it is saved.
    DownloadInterrupts interrupts;
    std::unique_ptr<players::PlayerSource> source;
    if (int status = PrepareTarget(command, source, err)) {
        return status;
    }

    Reporter reporter(out, ModeFor(command, out), &err);
    JobOptions options;
    SwitchOnJobOptions(options);
    FirmwarePaths paths;
    if (command.impmPath) {
        // "bin" would select the built-in image; a file of that name is meant here.
        paths.imPmPath = *command.impmPath == kBuiltinImagePath ? "./bin" : *command.impmPath;
    }
    paths.uitPath = command.uitPath;
    paths.fontPath = command.hzkPath;

    // A build without the player's firmware never writes its placeholder into a real player.
    if (!MayWriteBuiltinImage(paths, source->Simulated(), BuiltinImageIsPlaceholder())) {
        reporter.ShowForFile(kPlaceholderMessage, "built-in IM/PM image",
                             "the placeholder, not the player's firmware");
        reporter.Finish(JobEnding::LaunchFailed, std::nullopt);
        return kExitFailed;
    }

    CFlashEngine engine(&reporter);
    engine.SetBuiltinImage(BuiltinImage());
    CDownloadThread thread;
    LaunchPorts ports{&reporter, &reporter, &reporter, &reporter};

    reporter.SetEnabled(false);  // the launch starts with the Start button disabled
    std::string openError;
    const LaunchOutcome outcome = LaunchDownload(
        engine, thread, [&] { return source->Open(&openError); }, options, paths, ports);
    if (outcome == LaunchOutcome::OpenFailed && !openError.empty()) {
        err << "qdxflash: " << openError << '\n';
    }
    std::optional<std::uint32_t> exitCode;
    JobEnding ending = EndingOfLaunch(outcome);
    if (outcome == LaunchOutcome::Started) {
        int told = 0;
        while (thread.IsRunning()) {
            const int signals = interrupts.Wait(std::chrono::milliseconds(100));
            if (signals == told) {
                continue;
            }
            told = signals;
            if (signals == 1) {
                err << "qdxflash: the download goes on until it ends: a player interrupted now "
                       "has to be downloaded again. Interrupt once more to stop at once.\n";
            } else {
                engine.RequestStop();
                err << "qdxflash: stopping; the player is left part-written and must be "
                       "downloaded again.\n";
            }
            err.flush();
        }
        thread.Join();
        exitCode = thread.ExitCode();
        ending = thread.Ending().value_or(JobEnding::LaunchFailed);
    }

    std::string saveError;
    if (!source->Finish(&saveError)) {
        err << "qdxflash: " << saveError << '\n';
        ending = JobEnding::SaveFailed;
    }
    int status = ending == JobEnding::Completed ? kExitOk : kExitFailed;
    std::string traceError;
    if (!source->FinishTrace(&traceError)) {
        err << "qdxflash: " << traceError << '\n';
        status = kExitFailed;
    }
    reporter.Finish(ending, exitCode);
    return status;
}

}  // namespace qdx::cli
