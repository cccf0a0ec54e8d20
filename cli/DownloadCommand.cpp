// download: the launch of the desktop program, then the worker's job, reported on the terminal
// or as events.
#include <cstdio>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Reporter.h"
#include "engine/CDownloadThread.h"
#include "engine/CFlashEngine.h"
#include "engine/DownloadLaunch.h"
#include "files/BuiltinImage.h"
#include "files/FirmwareFiles.h"
#include "players/PlayerSource.h"

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

int RunDownload(const CliCommand& command, std::ostream& out, std::ostream& err) {
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
        thread.Join();
        exitCode = thread.ExitCode();
        ending = thread.Ending().value_or(JobEnding::LaunchFailed);
    }

    std::string saveError;
    if (!source->Finish(&saveError)) {
        err << "qdxflash: " << saveError << '\n';
        ending = JobEnding::SaveFailed;
    }
    reporter.Finish(ending, exitCode);
    return ending == JobEnding::Completed ? kExitOk : kExitFailed;
}

}  // namespace qdx::cli
