// The launch of one download: from the Start press's files and options to a running worker.
// Plain code shared by the desktop program and the command-line tool.
#pragma once

#include <functional>

#include "engine/CDownloadThread.h"
#include "engine/CFlashEngine.h"
#include "engine/JobEnding.h"
#include "engine/JobSettings.h"
#include "engine/Ports.h"
#include "transport/Device.h"

namespace qdx {

enum class LaunchOutcome {
    Started,       // the worker runs the job
    WorkerBusy,    // the previous worker is still alive; nothing was opened or touched
    OpenFailed,    // the player could not be opened; message shown
    InitFailed,    // the chip was not identified; message shown, status "failed", device closed
    ThreadFailed,  // the worker could not be created; device closed
};

// The ending of a launch that started no worker.
constexpr JobEnding EndingOfLaunch(LaunchOutcome) {
    return JobEnding::LaunchFailed;
}

struct LaunchPorts {
    IButtonControl* startButton = nullptr;
    ITextControl* statusText = nullptr;
    IProgressControl* progressBar = nullptr;
    IMessageBox* messageBox = nullptr;
};

// Opens the player for one launch: an open device, or null when it cannot be opened.
using DeviceOpen = std::function<DeviceHandle()>;

// Launches a download: opens the player, identifies the chip with the format option set, plans
// the backup areas, copies options and paths into the engine, binds the worker to the engine and
// starts it. The caller has disabled the Start button. From a successful open on, the engine
// owns the device: it is closed by the job at its ending, or here when the launch fails.
LaunchOutcome LaunchDownload(CFlashEngine& engine, CDownloadThread& thread, const DeviceOpen& open,
                             const JobOptions& options, const FirmwarePaths& paths,
                             const LaunchPorts& ports);

}  // namespace qdx
