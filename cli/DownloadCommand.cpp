// download: the launch of the desktop program, then the worker's job, reported on the terminal
// or as events.
#include <cstdio>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Ending.h"
#include "cli/Reporter.h"
#include "cli/Target.h"
#include "engine/CDownloadThread.h"
#include "engine/CFlashEngine.h"
#include "engine/DownloadLaunch.h"
#include "files/BuiltinImage.h"
#include "files/JobOptions.h"
#ifdef __linux__
#include "transport/linux/Volumes.h"
#endif

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

ReportMode ModeFor(const CliCommand& command, std::ostream& out) {
    if (command.events) {
        return ReportMode::Events;
    }
    // Redraw the bar in place only on a terminal; a pipe or file gets one line per position.
    const bool terminal = &out == &std::cout && QDX_ISATTY(QDX_FILENO(stdout));
    return terminal ? ReportMode::TerminalLive : ReportMode::TerminalPlain;
}

}  // namespace

int RunDownload(const CliCommand& command, std::ostream& out, std::ostream& err) {
    OpenedTarget target;
    if (int status = OpenTarget(command, target, err)) {
        return status;
    }
#ifdef __linux__
    // The flash is formatted beneath the player's volume: no mounted view of it may stay.
    const bool releaseVolumes = command.target == TargetKind::Device && target.device;
    std::vector<std::string> unmounted;
    if (releaseVolumes) {
        if (!ReleaseDiskVolumes(command.targetPath, &unmounted, &target.openError)) {
            CloseHandle(target.device);
            target.device = nullptr;
        }
        for (const std::string& mountPoint : unmounted) {
            err << "qdxflash: unmounted " << mountPoint << '\n';
        }
    }
#endif

    Reporter reporter(out, ModeFor(command, out));
    JobOptions options;
    SwitchOnJobOptions(options);
    FirmwarePaths paths;
    if (command.impmPath) {
        // "bin" would select the built-in image; a file of that name is meant here.
        paths.imPmPath = *command.impmPath == kBuiltinImagePath ? "./bin" : *command.impmPath;
    }
    paths.uitPath = command.uitPath;
    paths.fontPath = command.hzkPath;

    CFlashEngine engine(&reporter);
    engine.SetBuiltinImage(BuiltinImage());
    CDownloadThread thread;
    LaunchPorts ports{&reporter, &reporter, &reporter, &reporter};

    reporter.SetEnabled(false);  // the launch starts with the Start button disabled
    const LaunchOutcome outcome =
        LaunchDownload(engine, thread, target.device, ToLaunchSettings(options, paths), ports);
    if (outcome == LaunchOutcome::OpenFailed && !target.openError.empty()) {
        err << "qdxflash: " << target.openError << '\n';
    }
    JobObservation job;
    job.launch = outcome;
    if (outcome == LaunchOutcome::Started) {
        thread.Join();
        job.exitCode = thread.ExitCode();
    }
    job.lastStatus = reporter.LastStatus();
    job.imageStageReached = reporter.ImageStageReached();
    job.initFailedShown = reporter.MessageShown(texts::kInitFailed);

    int status = kExitOk;
    if (target.player) {
        target.trace.flush();
        // The flash has changed whatever the ending, so the player is saved after failures too.
        std::string error;
        if (!target.player->Save(command.targetPath, &error)) {
            err << "qdxflash: cannot save player file " << command.targetPath << ": " << error
                << '\n';
            status = kExitFailed;
        }
    }
#ifdef __linux__
    if (releaseVolumes && target.device) {
        CloseHandle(target.device);  // the disk is read again with the player released
        std::string why;
        // Without root or udisks2 this fails; that matters only where a volume was mounted.
        if (!RereadDisk(command.targetPath, &why) && !unmounted.empty()) {
            err << "qdxflash: " << why << '\n';
        }
    }
#endif
    const Ending ending = DeriveEnding(job);
    reporter.Finish(ending, job.exitCode);
    return ending == Ending::Completed ? status : kExitFailed;
}

}  // namespace qdx::cli
